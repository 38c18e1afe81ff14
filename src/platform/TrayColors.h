#pragma once
#include <QColor>
#include <QRect>
#include <optional>

namespace lomex::traycolors {

// The colour a monochrome tray icon should be drawn in to stand out on the desktop's system
// tray (X11 XEmbed trays): the foreground the tray announces (_NET_SYSTEM_TRAY_COLORS), else
// black or white against the tray's background as it shows around the icon (icon: where the
// icon sits, global logical pixels; empty while it is not embedded yet). None when no such
// tray runs (a StatusNotifier host, Wayland, no tray): then the desktop theme's text colour is
// the guess.
std::optional<QColor> foreground(const QRect& icon, qreal scale);

// Black or white, whichever stands out more against background.
QColor contrastingGlyph(const QColor& background);

} // namespace lomex::traycolors
