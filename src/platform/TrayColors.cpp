#include "platform/TrayColors.h"
#include <QByteArray>
#include <QCoreApplication>
#include <QGuiApplication>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <xcb/xcb.h>

namespace lomex::traycolors {

namespace {
// onlyIfExists: none for a name nobody uses yet (looking); else made (watching for it).
xcb_atom_t atom(xcb_connection_t* c, const char* name, bool onlyIfExists = true) {
    xcb_intern_atom_reply_t* r = xcb_intern_atom_reply(c, xcb_intern_atom(c, onlyIfExists, uint16_t(strlen(name)), name), nullptr);
    if (!r) return XCB_ATOM_NONE;
    const xcb_atom_t a = r->atom;
    free(r);
    return a;
}

// The mean colour of the ring of pixels just outside rect (root coordinates, device pixels):
// the tray's own background around an icon.
std::optional<QColor> ringColour(xcb_connection_t* c, xcb_window_t root, const QRect& rect) {
    constexpr int ring = 2;
    const QRect outer = rect.adjusted(-ring, -ring, ring, ring);
    if (outer.left() < 0 || outer.top() < 0 || outer.width() > 512 || outer.height() > 512) return std::nullopt;
    auto cookie = xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, root, int16_t(outer.x()), int16_t(outer.y()),
                                uint16_t(outer.width()), uint16_t(outer.height()), ~0u);
    xcb_get_image_reply_t* img = xcb_get_image_reply(c, cookie, nullptr);
    if (!img) return std::nullopt;
    std::optional<QColor> out;
    const uint8_t* data = xcb_get_image_data(img);
    const int len = xcb_get_image_data_length(img);
    // 24- and 32-bit visuals: 4 bytes a pixel, BGRX on the little-endian servers we meet.
    if (img->depth >= 24 && len >= outer.width() * outer.height() * 4) {
        double r = 0, g = 0, b = 0;
        int n = 0;
        for (int y = 0; y < outer.height(); ++y) {
            for (int x = 0; x < outer.width(); ++x) {
                if (x >= ring && x < outer.width() - ring && y >= ring && y < outer.height() - ring) continue;
                const uint8_t* px = data + (y * outer.width() + x) * 4;
                b += px[0];
                g += px[1];
                r += px[2];
                ++n;
            }
        }
        if (n > 0) out = QColor(int(r / n), int(g / n), int(b / n));
    }
    free(img);
    return out;
}
} // namespace

QColor contrastingGlyph(const QColor& background) {
    // Relative luminance, sRGB weights.
    const double l = 0.2126 * background.redF() + 0.7152 * background.greenF() + 0.0722 * background.blueF();
    return l > 0.5 ? QColor(Qt::black) : QColor(Qt::white);
}

std::optional<QColor> foreground(const QRect& icon, qreal scale) {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c) return std::nullopt;
    const QByteArray name = "_NET_SYSTEM_TRAY_S" + QByteArray::number(0);
    const xcb_atom_t selection = atom(c, name.constData());
    if (!selection) return std::nullopt;
    xcb_window_t owner = XCB_NONE;
    if (xcb_get_selection_owner_reply_t* r = xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr)) {
        owner = r->owner;
        free(r);
    }
    if (owner == XCB_NONE) return std::nullopt;

    // Announced colours: foreground, error, warning, success as 16-bit r, g, b each.
    if (const xcb_atom_t colors = atom(c, "_NET_SYSTEM_TRAY_COLORS")) {
        auto cookie = xcb_get_property(c, 0, owner, colors, XCB_ATOM_CARDINAL, 0, 12);
        if (xcb_get_property_reply_t* r = xcb_get_property_reply(c, cookie, nullptr)) {
            std::optional<QColor> fg;
            if (r->format == 32 && xcb_get_property_value_length(r) >= int(3 * sizeof(uint32_t))) {
                const auto* v = static_cast<const uint32_t*>(xcb_get_property_value(r));
                fg = QColor::fromRgb(int(v[0] >> 8), int(v[1] >> 8), int(v[2] >> 8));
            }
            free(r);
            if (fg) return fg;
        }
    }
    if (icon.isEmpty()) return std::nullopt;
    const QRect native(int(icon.x() * scale), int(icon.y() * scale), int(icon.width() * scale), int(icon.height() * scale));
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    if (auto around = ringColour(c, root, native)) return contrastingGlyph(*around);
    return std::nullopt;
}

namespace {
// Adds events to those this client already takes from a window, which Qt may watch too.
void addEvents(xcb_connection_t* c, xcb_window_t window, uint32_t mask) {
    xcb_get_window_attributes_reply_t* r = xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr);
    if (!r) return;
    const uint32_t wanted = r->your_event_mask | mask;
    if (wanted != r->your_event_mask) xcb_change_window_attributes(c, window, XCB_CW_EVENT_MASK, &wanted);
    free(r);
}
} // namespace

TrayWatch::TrayWatch(QObject* parent) : QObject(parent) {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    auto* c = x11 ? x11->connection() : nullptr;
    if (!c) return;
    connection_ = c;
    root_ = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    // Made when missing: a tray that starts or sets its colours later uses these names.
    selection_ = atom(c, "_NET_SYSTEM_TRAY_S0", false);
    manager_ = atom(c, "MANAGER", false);
    colors_ = atom(c, "_NET_SYSTEM_TRAY_COLORS", false);
    // A new tray announces itself to every client with a MANAGER message on the root window.
    addEvents(c, root_, XCB_EVENT_MASK_STRUCTURE_NOTIFY);
    follow();
    QCoreApplication::instance()->installNativeEventFilter(this);
}

TrayWatch::~TrayWatch() {
    if (connection_ && QCoreApplication::instance()) QCoreApplication::instance()->removeNativeEventFilter(this);
}

void TrayWatch::follow() {
    auto* c = static_cast<xcb_connection_t*>(connection_);
    owner_ = XCB_NONE;
    if (!selection_) return;
    if (xcb_get_selection_owner_reply_t* r = xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection_), nullptr)) {
        owner_ = r->owner;
        free(r);
    }
    if (owner_ != XCB_NONE) addEvents(c, owner_, XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY);
    xcb_flush(c);
}

bool TrayWatch::nativeEventFilter(const QByteArray& type, void* message, qintptr*) {
    if (type != "xcb_generic_event_t") return false;
    auto* ev = static_cast<xcb_generic_event_t*>(message);
    switch (ev->response_type & 0x7f) {
    case XCB_CLIENT_MESSAGE: {
        auto* m = reinterpret_cast<xcb_client_message_event_t*>(ev);
        if (m->window == root_ && m->type == manager_ && m->format == 32 && m->data.data32[1] == selection_) {
            follow();
            Q_EMIT changed();
        }
        break;
    }
    case XCB_PROPERTY_NOTIFY: {
        auto* p = reinterpret_cast<xcb_property_notify_event_t*>(ev);
        if (owner_ && p->window == owner_ && p->atom == colors_) Q_EMIT changed();
        break;
    }
    case XCB_DESTROY_NOTIFY: {
        auto* d = reinterpret_cast<xcb_destroy_notify_event_t*>(ev);
        if (owner_ && d->window == owner_) {
            owner_ = XCB_NONE;
            Q_EMIT changed();
        }
        break;
    }
    default:
        break;
    }
    // Qt sees every event as well: its own tray icon follows the same messages.
    return false;
}

} // namespace lomex::traycolors
