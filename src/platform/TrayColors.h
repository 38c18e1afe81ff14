#pragma once
#include <QAbstractNativeEventFilter>
#include <QColor>
#include <QObject>
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

// Tells when the tray's colours may have changed without anyone asking: the tray announces
// other colours (_NET_SYSTEM_TRAY_COLORS), or another tray takes over (a light panel for a dark
// one) or the tray goes. Does nothing without an X11 tray.
class TrayWatch : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT
public:
    explicit TrayWatch(QObject* parent = nullptr);
    ~TrayWatch() override;

Q_SIGNALS:
    void changed();

protected:
    bool nativeEventFilter(const QByteArray& type, void* message, qintptr* result) override;

private:
    // Listens to the tray that owns the selection now.
    void follow();

    void* connection_ = nullptr; // xcb_connection_t
    quint32 root_ = 0, selection_ = 0, manager_ = 0, colors_ = 0, owner_ = 0;
};

} // namespace lomex::traycolors
