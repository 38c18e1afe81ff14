#pragma once
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace lomex {

// One application with at least one top-level window. On Linux the desktop-file id
// ("code.desktop") stands in for a bundle identifier.
struct RunningApplication {
    QString desktopID;
    QString windowClass; // WM_CLASS class part
    qint64 pid = 0;      // 0 when the window does not say

    bool operator==(const RunningApplication&) const = default;
};

// The running applications and the active (frontmost) one.
class RunningApps {
public:
    virtual ~RunningApps() = default;
    // One entry per application, in window-stacking order of first appearance.
    virtual QList<RunningApplication> running() const = 0;
    virtual std::optional<RunningApplication> active() const = 0;

    // The layer used when none is handed in: X11 unless a test installed another.
    static RunningApps* current();
    static void setCurrent(RunningApps* apps); // nullptr restores the X11 layer
};

// Reads _NET_CLIENT_LIST, _NET_ACTIVE_WINDOW, WM_CLASS and _NET_WM_PID of the X server in
// $DISPLAY; with no X server it lists nothing.
class X11RunningApps : public RunningApps {
public:
    QList<RunningApplication> running() const override;
    std::optional<RunningApplication> active() const override;
};

namespace runningapps {
// The class part of a WM_CLASS value ("instance\0class\0"); empty when it has none.
QString windowClassFrom(const QByteArray& wmClass);
// The instance part of a WM_CLASS value (the first string); empty when there is none.
QString windowInstanceFrom(const QByteArray& wmClass);

// What a window tells about the application it belongs to.
struct WindowIdentity {
    QString windowClass; // WM_CLASS class
    QString instance;    // WM_CLASS instance
    QString gtkAppID;    // _GTK_APPLICATION_ID
    QString flatpakID;   // the Flatpak sandbox's application id of the window's process
};
// The desktop-file id of a window's application, the first of: "<Flatpak id>.desktop" and
// "<GTK application id>.desktop" when installed; the entry whose StartupWMClass is the class,
// then the instance; "<class>.desktop", then "<lower-cased class>.desktop" when installed.
// Else the class itself.
QString desktopIDFor(const WindowIdentity& window, const QStringList& dataDirs);
// The same for a window of which only the class is known.
QString desktopIDForClass(const QString& windowClass, const QStringList& dataDirs);
// The application id in a Flatpak sandbox's info file ("[Application]", "name="); empty when
// it names none.
QString flatpakIDFrom(const QByteArray& flatpakInfo);
// The Flatpak application id a process runs under; empty outside a sandbox.
QString flatpakIDOf(qint64 pid);
// $XDG_DATA_HOME (or ~/.local/share), then $XDG_DATA_DIRS (or /usr/local/share:/usr/share).
QStringList xdgDataDirs();
} // namespace runningapps

} // namespace lomex
