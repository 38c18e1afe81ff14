#include "platform/XcbSelection.h"

#include <cstdlib>
#include <poll.h>

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
        if (xcb_connection_has_error(conn))
            return nullptr;
        const qint64 left = budgetMs - clock.elapsed();
        if (left <= 0)
            return nullptr;
        pollfd pfd{xcb_get_file_descriptor(conn), POLLIN, 0};
        ::poll(&pfd, 1, int(left));
    }
}

std::optional<SelectionClient::Data> SelectionClient::fetch(xcb_atom_t target, qint64 maxBytes,
                                                            const QElapsedTimer& clock, int budgetMs)
{
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
    const xcb_atom_t incrType = atom("INCR");
    // The property's type and size first, then its value only when it fits.
    auto read = [&](bool* incr) -> std::optional<Data> {
        Reply<xcb_get_property_reply_t> head(xcb_get_property_reply(
            conn, xcb_get_property(conn, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 0), nullptr));
        if (!head)
            return std::nullopt;
        *incr = head->type == incrType;
        if (!*incr && qint64(head->bytes_after) > maxBytes) {
            xcb_delete_property(conn, window, property);
            return std::nullopt;
        }
        const uint32_t longs = uint32_t((qint64(head->bytes_after) + 3) / 4);
        Reply<xcb_get_property_reply_t> r(xcb_get_property_reply(
            conn, xcb_get_property(conn, 1, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, longs), nullptr));
        if (!r || r->bytes_after > 0)
            return std::nullopt;
        Data item;
        item.type = atomName(r->type);
        item.format = r->format ? r->format : 8;
        // The value's length is already in bytes, whatever the format.
        item.data = QByteArray(static_cast<const char*>(xcb_get_property_value(r.get())),
                               xcb_get_property_value_length(r.get()));
        return item;
    };
    bool incr = false;
    std::optional<Data> first = read(&incr);
    if (!first || !incr)
        return first;
    // Incremental: the announced size is a lower bound, so more than maxBytes is refused now.
    if (first->data.size() >= 4 && qint64(*reinterpret_cast<const uint32_t*>(first->data.constData())) > maxBytes)
        return std::nullopt;
    // Each new value of the property is the next chunk; an empty one ends it.
    std::optional<Data> whole;
    for (;;) {
        auto ev = waitFor(
            [&](xcb_generic_event_t* e) {
                if ((e->response_type & 0x7f) != XCB_PROPERTY_NOTIFY)
                    return false;
                auto* p = reinterpret_cast<xcb_property_notify_event_t*>(e);
                return p->window == window && p->atom == property && p->state == XCB_PROPERTY_NEW_VALUE;
            },
            clock, budgetMs);
        if (!ev)
            return std::nullopt;
        bool ignored = false;
        std::optional<Data> chunk = read(&ignored);
        if (!chunk)
            return std::nullopt;
        if (chunk->data.isEmpty())
            return whole;
        if (!whole)
            whole = chunk;
        else
            whole->data += chunk->data;
        if (whole->data.size() > maxBytes)
            return std::nullopt;
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
