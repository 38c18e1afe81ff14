#include "platform/WindowHints.h"
#include <QGuiApplication>
#include <QWidget>
#include <QByteArray>
#include <algorithm>
#include <initializer_list>
#include <cstring>
#include <vector>
#include <QRegion>
#include <cmath>
#include <xcb/shape.h>
#include <xcb/xcb.h>

namespace lomex::windowhints {

namespace {
xcb_connection_t* connection() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_window_t rootWindow(xcb_connection_t* c) { return xcb_setup_roots_iterator(xcb_get_setup(c)).data->root; }

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    auto cookie = xcb_intern_atom(c, 0, uint16_t(strlen(name)), name);
    xcb_intern_atom_reply_t* r = xcb_intern_atom_reply(c, cookie, nullptr);
    if (!r) return XCB_ATOM_NONE;
    xcb_atom_t a = r->atom;
    free(r);
    return a;
}

void sendToRoot(xcb_connection_t* c, xcb_window_t w, xcb_atom_t type, std::initializer_list<uint32_t> data) {
    xcb_client_message_event_t ev {};
    ev.response_type = XCB_CLIENT_MESSAGE;
    ev.format = 32;
    ev.window = w;
    ev.type = type;
    int i = 0;
    for (uint32_t d : data) ev.data.data32[i++] = d;
    xcb_send_event(c, 0, rootWindow(c), XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&ev));
}
} // namespace

void keepOffTaskbar(QWidget* window) {
    xcb_connection_t* c = connection();
    if (!c || !window) return;
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
        sendToRoot(c, w, state, {1, skips[0], skips[1], 1});
    }
    xcb_flush(c);
}

void markAsDesktopPanel(QWidget* window) {
    xcb_connection_t* c = connection();
    if (!c || !window) return;
    const xcb_window_t w = xcb_window_t(window->winId());
    const xcb_atom_t type = atom(c, "_NET_WM_WINDOW_TYPE");
    const xcb_atom_t dock = atom(c, "_NET_WM_WINDOW_TYPE_DOCK");
    const xcb_atom_t desktop = atom(c, "_NET_WM_DESKTOP");
    if (type && dock)
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, type, XCB_ATOM_ATOM, 32, 1, &dock);
    // 0xFFFFFFFF: on all desktops.
    const uint32_t all = 0xFFFFFFFFu;
    if (desktop) xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, desktop, XCB_ATOM_CARDINAL, 32, 1, &all);
    xcb_flush(c);
}

void bringToFront(QWidget* window) {
    if (!window) return;
    if (window->isMinimized()) window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
    // The application's own request may lose against focus-stealing prevention when it was not
    // the last to get input; the user asked for this window, so ask as a pager does.
    if (connection()) activate(quint64(window->winId()));
}

quint64 activeWindow() {
    xcb_connection_t* c = connection();
    if (!c) return 0;
    const xcb_atom_t active = atom(c, "_NET_ACTIVE_WINDOW");
    if (!active) return 0;
    quint64 out = 0;
    auto cookie = xcb_get_property(c, 0, rootWindow(c), active, XCB_ATOM_WINDOW, 0, 1);
    if (xcb_get_property_reply_t* r = xcb_get_property_reply(c, cookie, nullptr)) {
        if (xcb_get_property_value_length(r) >= int(sizeof(xcb_window_t)))
            out = *static_cast<const xcb_window_t*>(xcb_get_property_value(r));
        free(r);
    }
    return out;
}

void activate(quint64 window) {
    xcb_connection_t* c = connection();
    if (!c || !window) return;
    const xcb_atom_t active = atom(c, "_NET_ACTIVE_WINDOW");
    if (!active) return;
    // Source 2: a pager or taskbar, i.e. on the user's behalf; no timestamp.
    sendToRoot(c, xcb_window_t(window), active, {2, 0, 0});
    xcb_flush(c);
}

bool compositing() {
    xcb_connection_t* c = connection();
    if (!c) return false;
    const int screen = 0;
    const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(screen);
    const xcb_atom_t selection = atom(c, name.constData());
    if (!selection) return false;
    bool owned = false;
    if (xcb_get_selection_owner_reply_t* r = xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr)) {
        owned = r->owner != XCB_NONE;
        free(r);
    }
    return owned;
}


bool clearBoundingShape(QWidget* window) {
    xcb_connection_t* c = connection();
    if (!c || !window) return false;
    const xcb_query_extension_reply_t* shape = xcb_get_extension_data(c, &xcb_shape_id);
    if (!shape || !shape->present) return false;
    xcb_shape_rectangles(c, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING, XCB_CLIP_ORDERING_UNSORTED,
                         xcb_window_t(window->winId()), 0, 0, 0, nullptr);
    xcb_flush(c);
    return true;
}

bool setInputShape(QWidget* window, const QRegion& region) {
    xcb_connection_t* c = connection();
    if (!c || !window) return false;
    const xcb_query_extension_reply_t* shape = xcb_get_extension_data(c, &xcb_shape_id);
    if (!shape || !shape->present) return false;
    const xcb_window_t w = xcb_window_t(window->winId());
    if (region.isEmpty()) {
        xcb_shape_mask(c, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_INPUT, w, 0, 0, XCB_NONE);
    } else {
        // Device pixels: each logical rectangle grows outward to whole pixels.
        const qreal scale = window->devicePixelRatioF();
        std::vector<xcb_rectangle_t> rects;
        for (const QRect& r : region) {
            const int x0 = int(std::floor(r.left() * scale)), y0 = int(std::floor(r.top() * scale));
            const int x1 = int(std::ceil((r.right() + 1) * scale)), y1 = int(std::ceil((r.bottom() + 1) * scale));
            rects.push_back({int16_t(x0), int16_t(y0), uint16_t(x1 - x0), uint16_t(y1 - y0)});
        }
        xcb_shape_rectangles(c, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_INPUT, XCB_CLIP_ORDERING_UNSORTED, w, 0, 0,
                             uint32_t(rects.size()), rects.data());
    }
    xcb_flush(c);
    return true;
}

} // namespace lomex::windowhints
