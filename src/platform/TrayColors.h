#pragma once
#include <QColor>
#include <optional>

namespace lomex::traycolors {

// The colour a monochrome tray icon should be drawn in to stand out on the desktop's system
// tray (X11 XEmbed trays): the foreground the tray announces (_NET_SYSTEM_TRAY_COLORS), else
// black or white against the tray's own background. None when no such tray runs (a
// StatusNotifier host, Wayland, no tray): then the desktop theme's text colour is the guess.
std::optional<QColor> foreground();

// Black or white, whichever stands out more against background.
QColor contrastingGlyph(const QColor& background);

} // namespace lomex::traycolors
