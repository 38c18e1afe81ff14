#include "platform/WindowHints.h"
#include <QGuiApplication>
#include <QWidget>
#include <algorithm>
#include <cstring>
#include <vector>
#include <xcb/xcb.h>

namespace lomex::windowhints {

namespace {
xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    auto cookie = xcb_intern_atom(c, 0, uint16_t(strlen(name)), name);
    xcb_intern_atom_reply_t* r = xcb_intern_atom_reply(c, cookie, nullptr);
    if (!r) return XCB_ATOM_NONE;
    xcb_atom_t a = r->atom;
    free(r);
    return a;
}
} // namespace

void keepOffTaskbar(QWidget* window) {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !window) return;
    xcb_connection_t* c = x11->connection();
    if (!c) return;
    const xcb_window_t w = xcb_window_t(window->winId());
    const xcb_atom_t state = atom(c, "_NET_WM_STATE");
    const xcb_atom_t skips[] = {atom(c, "_NET_WM_STATE_SKIP_TASKBAR"), atom(c, "_NET_WM_STATE_SKIP_PAGER")};
    if (!state || !skips[0] || !skips[1]) return;

    if (!window->isVisible()) {
        // Unmapped: merge into the state property the manager reads when the window maps.
        std::vector<xcb_atom_t> atoms;
        auto cookie = xcb_get_property(c, 0, w, state, XCB_ATOM_ATOM, 0, 64);
        if (xcb_get_property_reply_t* r = xcb_get_property_reply(c, cookie, nullptr)) {
            const auto* v = static_cast<const xcb_atom_t*>(xcb_get_property_value(r));
            atoms.assign(v, v + xcb_get_property_value_length(r) / int(sizeof(xcb_atom_t)));
            free(r);
        }
        for (xcb_atom_t s : skips)
            if (std::find(atoms.begin(), atoms.end(), s) == atoms.end()) atoms.push_back(s);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, state, XCB_ATOM_ATOM, 32, uint32_t(atoms.size()),
                            atoms.data());
    } else {
        // Mapped: the EWMH request to the manager (1 = add).
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        xcb_client_message_event_t ev {};
        ev.response_type = XCB_CLIENT_MESSAGE;
        ev.format = 32;
        ev.window = w;
        ev.type = state;
        ev.data.data32[0] = 1;
        ev.data.data32[1] = skips[0];
        ev.data.data32[2] = skips[1];
        ev.data.data32[3] = 1;
        xcb_send_event(c, 0, root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&ev));
    }
    xcb_flush(c);
}

} // namespace lomex::windowhints
