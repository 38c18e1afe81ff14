#include "platform/XcbSelection.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <poll.h>
#include <utility>

namespace lomex::xcbsupport {

bool SelectionClient::open()
{
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display)
        return false;
    int screenNumber = 0;
    conn = xcb_connect(display, &screenNumber);
    if (xcb_connection_has_error(conn)) {
        xcb_disconnect(conn);
        conn = nullptr;
        return false;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(conn));
    for (int i = 0; i < screenNumber && it.rem; ++i)
        xcb_screen_next(&it);
    if (!it.rem)
        return false;
    root = it.data->root;
    window = xcb_generate_id(conn);
    const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(conn, XCB_COPY_FROM_PARENT, window, root, -10, -10, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                      XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &mask);
    flush();
    return true;
}

void SelectionClient::close()
{
    if (conn)
        xcb_disconnect(conn);
    conn = nullptr;
    window = 0;
}

xcb_atom_t SelectionClient::atom(const QByteArray& name)
{
    if (auto it = atoms_.constFind(name); it != atoms_.constEnd())
        return *it;
    auto cookie = xcb_intern_atom(conn, 0, uint16_t(name.size()), name.constData());
    Reply<xcb_intern_atom_reply_t> r(xcb_intern_atom_reply(conn, cookie, nullptr));
    const xcb_atom_t a = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
    if (a != XCB_ATOM_NONE)
        atoms_.insert(name, a);
    return a;
}

QByteArray SelectionClient::atomName(xcb_atom_t a)
{
    for (auto it = atoms_.constBegin(); it != atoms_.constEnd(); ++it)
        if (*it == a)
            return it.key();
    Reply<xcb_get_atom_name_reply_t> r(xcb_get_atom_name_reply(conn, xcb_get_atom_name(conn, a), nullptr));
    if (!r)
        return {};
    QByteArray name(xcb_get_atom_name_name(r.get()), xcb_get_atom_name_name_length(r.get()));
    atoms_.insert(name, a);
    return name;
}

xcb_window_t SelectionClient::owner(xcb_atom_t selection)
{
    Reply<xcb_get_selection_owner_reply_t> r(
        xcb_get_selection_owner_reply(conn, xcb_get_selection_owner(conn, selection), nullptr));
    return r ? r->owner : 0;
}

Reply<xcb_generic_event_t> SelectionClient::waitFor(const std::function<bool(xcb_generic_event_t*)>& match,
                                                    const QElapsedTimer& clock, int budgetMs)
{
    flush();
    for (;;) {
        while (xcb_generic_event_t* ev = xcb_poll_for_event(conn)) {
            if (match(ev))
                return Reply<xcb_generic_event_t>(ev);
            if (dispatch)
                dispatch(ev);
            std::free(ev);
        }
        if (xcb_connection_has_error(conn) || cancelled())
            return nullptr;
        const qint64 left = budgetMs - clock.elapsed();
        if (left <= 0)
            return nullptr;
        // In short slices, so a cancel is seen soon.
        pollfd pfd{xcb_get_file_descriptor(conn), POLLIN, 0};
        ::poll(&pfd, 1, int(std::min<qint64>(left, cancelCheckMs)));
    }
}

std::optional<SelectionClient::Data> SelectionClient::fetch(xcb_atom_t target, qint64 maxBytes,
                                                            const QElapsedTimer& clock, int budgetMs)
{
    QByteArray whole;
    std::optional<Data> out = fetch(target, maxBytes, clock, budgetMs, [&](const QByteArray& piece) {
        if (whole.isEmpty())
            whole = piece; // shared, not copied: most answers come in one piece
        else
            whole += piece;
        return true;
    });
    if (out)
        out->data = std::move(whole);
    return out;
}

std::optional<SelectionClient::Data> SelectionClient::fetch(xcb_atom_t target, qint64 maxBytes,
                                                            const QElapsedTimer& clock, int budgetMs,
                                                            const Sink& sink)
{
    // An answer nobody waits for would leave an owner that answers in pieces waiting for good.
    if (clock.elapsed() >= budgetMs)
        return std::nullopt;
    const xcb_atom_t clipboard = atom("CLIPBOARD"), property = atom("LOMEX_SELECTION");
    xcb_delete_property(conn, window, property);
    xcb_convert_selection(conn, window, clipboard, target, property, XCB_CURRENT_TIME);
    auto notify = waitFor(
        [&](xcb_generic_event_t* ev) {
            if ((ev->response_type & 0x7f) != XCB_SELECTION_NOTIFY)
                return false;
            auto* n = reinterpret_cast<xcb_selection_notify_event_t*>(ev);
            return n->requestor == window && n->selection == clipboard && n->target == target;
        },
        clock, budgetMs);
    if (!notify || reinterpret_cast<xcb_selection_notify_event_t*>(notify.get())->property == XCB_ATOM_NONE)
        return std::nullopt;
    // The property's type and size first, then its value only when it fits.
    Reply<xcb_get_property_reply_t> head(xcb_get_property_reply(
        conn, xcb_get_property(conn, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 0), nullptr));
    if (!head)
        return std::nullopt;
    if (head->type != atom("INCR")) {
        if (qint64(head->bytes_after) > maxBytes) {
            xcb_delete_property(conn, window, property);
            return std::nullopt;
        }
        std::optional<Data> whole = value(property, head->bytes_after);
        if (!whole || !sink(std::exchange(whole->data, QByteArray())))
            return std::nullopt;
        return whole;
    }
    // Incremental: the property holds the size as far as the owner knows it, a lower bound
    // (xclip leaves it empty). Deleting it starts the transfer.
    qint64 announced = std::numeric_limits<qint64>::max();
    if (head->bytes_after > 4)
        xcb_delete_property(conn, window, property);
    else if (auto size = value(property, head->bytes_after)) {
        uint32_t n = 0;
        std::memcpy(&n, size->data.constData(), size_t(std::min<qsizetype>(size->data.size(), sizeof n)));
        announced = size->data.size() == sizeof n ? n : 0;
    }
    return fetchPieces(property, announced, maxBytes, clock, budgetMs, sink);
}

std::optional<SelectionClient::Data> SelectionClient::value(xcb_atom_t property, uint32_t bytes)
{
    // Deleted as it is read, which tells an incremental owner to go on.
    Reply<xcb_get_property_reply_t> r(xcb_get_property_reply(
        conn, xcb_get_property(conn, 1, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, uint32_t((qint64(bytes) + 3) / 4)),
        nullptr));
    if (!r || r->bytes_after > 0) {
        xcb_delete_property(conn, window, property);
        return std::nullopt;
    }
    Data item;
    item.type = atomName(r->type);
    item.format = r->format ? r->format : 8;
    // The value's length is already in bytes, whatever the format.
    item.data = QByteArray(static_cast<const char*>(xcb_get_property_value(r.get())),
                           xcb_get_property_value_length(r.get()));
    return item;
}

std::optional<SelectionClient::Data> SelectionClient::fetchPieces(xcb_atom_t property, qint64 announced,
                                                                  qint64 maxBytes, const QElapsedTimer& clock,
                                                                  int budgetMs, const Sink& sink)
{
    // Each new value of the property is the next piece; an empty one ends it. The owner puts a
    // piece only once we deleted the one before, and many owners (xclip) serve nobody else
    // until the transfer ends: one given up on (too large, too slow) is still taken to its end,
    // its pieces deleted unread, for up to maxDrainMs past the moment it was given up.
    std::optional<Data> whole; // the type and format; the bytes went to the sink
    qint64 received = 0;
    bool dropping = false;
    qint64 deadline = budgetMs;
    auto giveUp = [&] {
        dropping = true;
        whole.reset();
        deadline = std::max<qint64>(budgetMs, clock.elapsed() + maxDrainMs);
    };
    if (announced > maxBytes)
        giveUp();
    for (;;) {
        auto ev = waitFor(
            [&](xcb_generic_event_t* e) {
                if ((e->response_type & 0x7f) != XCB_PROPERTY_NOTIFY)
                    return false;
                auto* p = reinterpret_cast<xcb_property_notify_event_t*>(e);
                return p->window == window && p->atom == property && p->state == XCB_PROPERTY_NEW_VALUE;
            },
            clock, int(deadline));
        if (!ev) {
            if (dropping || xcb_connection_has_error(conn) || cancelled())
                return std::nullopt; // the owner stopped sending
            giveUp();
            continue;
        }
        // The piece's size; a dropped piece is deleted in the same round trip.
        auto cookie = xcb_get_property(conn, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 0);
        if (dropping)
            xcb_delete_property(conn, window, property);
        Reply<xcb_get_property_reply_t> head(xcb_get_property_reply(conn, cookie, nullptr));
        if (!head)
            return std::nullopt;
        const uint32_t size = head->bytes_after;
        if (dropping) {
            if (size == 0)
                return std::nullopt;
            continue;
        }
        if (size == 0) {
            xcb_delete_property(conn, window, property);
            return whole;
        }
        if (received + qint64(size) > maxBytes) {
            xcb_delete_property(conn, window, property);
            giveUp();
            continue;
        }
        std::optional<Data> piece = value(property, size);
        if (!piece || !sink(piece->data)) {
            giveUp();
            continue;
        }
        received += size;
        if (!whole) {
            whole = std::move(piece);
            whole->data.clear();
        }
    }
}

QList<QByteArray> SelectionClient::targets(const QElapsedTimer& clock, int budgetMs)
{
    QList<QByteArray> names;
    const auto list = fetch(atom("TARGETS"), 64 * 1024, clock, budgetMs);
    if (!list || list->format != 32)
        return names;
    const auto* atoms = reinterpret_cast<const uint32_t*>(list->data.constData());
    const int count = int(list->data.size() / 4);
    for (int i = 0; i < count; ++i) {
        const QByteArray name = atomName(atoms[i]);
        if (!name.isEmpty())
            names.append(name);
    }
    return names;
}

} // namespace lomex::xcbsupport
