#include "platform/TrayColors.h"
#include <QByteArray>
#include <QGuiApplication>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <xcb/xcb.h>

namespace lomex::traycolors {

namespace {
xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    xcb_intern_atom_reply_t* r = xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, uint16_t(strlen(name)), name), nullptr);
    if (!r) return XCB_ATOM_NONE;
    const xcb_atom_t a = r->atom;
    free(r);
    return a;
}

// The mean colour of the tray manager's window as it shows on screen.
std::optional<QColor> meanColour(xcb_connection_t* c, xcb_window_t w) {
    xcb_get_geometry_reply_t* g = xcb_get_geometry_reply(c, xcb_get_geometry(c, w), nullptr);
    if (!g) return std::nullopt;
    const int width = g->width, height = g->height;
    free(g);
    if (width <= 0 || height <= 0) return std::nullopt;
    // A strip through the middle is enough and keeps the read small.
    const int rows = std::min(height, 4);
    auto cookie = xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, w, 0, int16_t((height - rows) / 2), uint16_t(std::min(width, 256)),
                                uint16_t(rows), ~0u);
    xcb_get_image_reply_t* img = xcb_get_image_reply(c, cookie, nullptr);
    if (!img) return std::nullopt;
    std::optional<QColor> out;
    // 24- and 32-bit visuals: 4 bytes a pixel, BGRX on the little-endian servers we meet.
    if (img->depth >= 24) {
        const uint8_t* data = xcb_get_image_data(img);
        const int len = xcb_get_image_data_length(img);
        double r = 0, gr = 0, b = 0;
        int n = 0;
        for (int i = 0; i + 3 < len; i += 4, ++n) {
            b += data[i];
            gr += data[i + 1];
            r += data[i + 2];
        }
        if (n > 0) out = QColor(int(r / n), int(gr / n), int(b / n));
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

std::optional<QColor> foreground() {
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
    if (auto mean = meanColour(c, owner)) return contrastingGlyph(*mean);
    return std::nullopt;
}

} // namespace lomex::traycolors
