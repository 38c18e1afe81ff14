#include "platform/XcbSelectionOwner.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace lomex::xcbsupport {

SelectionOwner::SelectionOwner()
{
    clock_.start();
    // Events that arrive while we wait for an answer of our own are served as usual.
    dispatch = [this](xcb_generic_event_t* ev) { handle(ev); };
}

ClipboardSnapshot SelectionOwner::offered() const
{
    std::lock_guard guard(lock_);
    return offered_;
}

qint64 SelectionOwner::pieceSize()
{
    if (!pieceSize_) {
        // In bytes, less room for the request's own header; whole 32-bit units, so a piece of
        // format 16 or 32 data never splits an item.
        const qint64 request = qint64(xcb_get_maximum_request_length(conn)) * 4 - 1024;
        pieceSize_ = std::max<qint64>(4096, std::min(pieceBytes, request)) / 4 * 4;
    }
    return pieceSize_;
}

void SelectionOwner::serve(const xcb_selection_request_event_t* req)
{
    xcb_selection_notify_event_t notify{};
    notify.response_type = XCB_SELECTION_NOTIFY;
    notify.time = req->time;
    notify.requestor = req->requestor;
    notify.selection = req->selection;
    notify.target = req->target;
    notify.property = XCB_ATOM_NONE;
    const xcb_atom_t property = req->property == XCB_ATOM_NONE ? req->target : req->property;
    const ClipboardSnapshot content = offered();
    if (req->selection == atom("CLIPBOARD") && !content.isEmpty()) {
        const QByteArray target = atomName(req->target);
        if (target == "TARGETS") {
            QList<uint32_t> list{atom("TARGETS")};
            if (content.listsTimestamp)
                list.append(atom("TIMESTAMP"));
            for (const auto& item : content.items)
                list.append(atom(item.target));
            xcb_change_property(conn, XCB_PROP_MODE_REPLACE, req->requestor, property, XCB_ATOM_ATOM, 32,
                                uint32_t(list.size()), list.constData());
            notify.property = property;
        } else if (target == "TIMESTAMP") {
            const uint32_t t = 0;
            xcb_change_property(conn, XCB_PROP_MODE_REPLACE, req->requestor, property, XCB_ATOM_INTEGER, 32, 1, &t);
            notify.property = property;
        } else {
            for (const auto& item : content.items) {
                if (item.target == target) {
                    if (serveData(item, req->requestor, property))
                        notify.property = property;
                    break;
                }
            }
        }
    }
    xcb_send_event(conn, 0, req->requestor, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&notify));
    flush();
}

bool SelectionOwner::serveData(const ClipboardSnapshot::Item& item, xcb_window_t requestor, xcb_atom_t property)
{
    const int unit = item.format / 8;
    if (unit != 1 && unit != 2 && unit != 4)
        return false;
    fetched = true;
    if (item.data.size() <= pieceSize()) {
        const QByteArray bytes = item.data.bytes();
        xcb_change_property(conn, XCB_PROP_MODE_REPLACE, requestor, property, atom(item.type), uint8_t(item.format),
                            uint32_t(bytes.size() / unit), bytes.constData());
        return true;
    }
    // In pieces: the requestor deletes the property to ask for the next one. A request for the
    // same property again replaces the transfer it had.
    for (std::size_t i = 0; i < transfers_.size(); ++i)
        if (transfers_[i].requestor == requestor && transfers_[i].property == property) {
            end(i);
            break;
        }
    const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(conn, requestor, XCB_CW_EVENT_MASK, &mask);
    // The size as a lower bound; the 256 MiB a snapshot holds fits.
    const uint32_t size = uint32_t(std::min<qint64>(item.data.size(), std::numeric_limits<uint32_t>::max()));
    xcb_change_property(conn, XCB_PROP_MODE_REPLACE, requestor, property, atom("INCR"), 32, 1, &size);
    transfers_.push_back({requestor, property, atom(item.type), item.format, item.data, 0, clock_.elapsed()});
    return true;
}

qint64 SelectionOwner::sendNext(Transfer& t)
{
    t.lastMs = clock_.elapsed();
    const QByteArray piece = t.data.read(t.sent, pieceSize());
    const int unit = t.format / 8;
    // An empty piece ends the transfer (as does a file that could not be read on: the requestor
    // gets less rather than waiting for good).
    xcb_change_property(conn, XCB_PROP_MODE_REPLACE, t.requestor, t.property, t.type, uint8_t(t.format),
                        uint32_t(piece.size() / unit), piece.constData());
    t.sent += piece.size();
    return piece.size();
}

void SelectionOwner::end(std::size_t index)
{
    const xcb_window_t requestor = transfers_[index].requestor;
    transfers_.erase(transfers_.begin() + qsizetype(index));
    const bool watched = std::any_of(transfers_.cbegin(), transfers_.cend(),
                                     [&](const Transfer& t) { return t.requestor == requestor; });
    if (!watched) {
        const uint32_t none = XCB_EVENT_MASK_NO_EVENT;
        xcb_change_window_attributes(conn, requestor, XCB_CW_EVENT_MASK, &none);
    }
}

int SelectionOwner::expire()
{
    const qint64 now = clock_.elapsed();
    for (std::size_t i = transfers_.size(); i-- > 0;)
        if (now - transfers_[i].lastMs >= stallMs)
            end(i);
    flush();
    return transfers();
}

void SelectionOwner::handle(xcb_generic_event_t* ev)
{
    switch (ev->response_type & 0x7f) {
    case 0: {
        // A requestor that went away: writing to its window fails.
        const auto* error = reinterpret_cast<xcb_generic_error_t*>(ev);
        if (error->error_code == XCB_WINDOW)
            for (std::size_t i = transfers_.size(); i-- > 0;)
                if (transfers_[i].requestor == error->resource_id)
                    transfers_.erase(transfers_.begin() + qsizetype(i));
        break;
    }
    case XCB_SELECTION_REQUEST:
        serve(reinterpret_cast<xcb_selection_request_event_t*>(ev));
        break;
    case XCB_PROPERTY_NOTIFY: {
        const auto* p = reinterpret_cast<xcb_property_notify_event_t*>(ev);
        if (p->state != XCB_PROPERTY_DELETE)
            break;
        for (std::size_t i = 0; i < transfers_.size(); ++i) {
            Transfer& t = transfers_[i];
            if (t.requestor != p->window || t.property != p->atom)
                continue;
            // After the last piece an empty one, which ends the transfer.
            if (sendNext(t) == 0)
                end(i);
            flush();
            break;
        }
        break;
    }
    case XCB_SELECTION_CLEAR:
        // The notice of a loss can be read only after we took the clipboard back (own() reads
        // events while it waits): the server says whether the loss still stands.
        if (reinterpret_cast<xcb_selection_clear_event_t*>(ev)->selection == atom("CLIPBOARD")
            && owner(atom("CLIPBOARD")) != window) {
            std::lock_guard guard(lock_);
            offered_ = {};
        }
        break;
    default:
        break;
    }
}

void SelectionOwner::drain()
{
    if (!conn)
        return;
    while (xcb_generic_event_t* ev = xcb_poll_for_event(conn)) {
        handle(ev);
        std::free(ev);
    }
}

void SelectionOwner::own(const ClipboardSnapshot& content)
{
    {
        std::lock_guard guard(lock_);
        offered_ = content;
    }
    fetched = false;
    xcb_set_selection_owner(conn, content.isEmpty() ? xcb_window_t(XCB_WINDOW_NONE) : window, atom("CLIPBOARD"),
                            XCB_CURRENT_TIME);
    // A round trip: once it returns the server has made the change, so a question asked on
    // another connection afterwards (ownsClipboard) sees it. Events read while waiting for the
    // answer are queued inside xcb, where a socket notifier cannot see them: serve them now.
    owner(atom("CLIPBOARD"));
    drain();
}

} // namespace lomex::xcbsupport
