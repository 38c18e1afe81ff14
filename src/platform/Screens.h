#pragma once
#include <QList>
#include <QObject>
#include <QPoint>
#include <QRect>
#include <QString>

class QScreen;

namespace lomex {

// One display as the notch placement sees it. Linux screens have no camera notch.
struct ScreenInfo {
    QString name;
    QRect frame;            // logical pixels, global coordinates
    bool primary = false;
    bool hasNotch = false;
    qreal devicePixelRatio = 1.0;
    QRect available;        // the frame less desktop panels and docks; invalid when unknown
};

// The screens and the pointer. The Qt implementation follows QGuiApplication's screens;
// tests use FakeScreens.
class Screens : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    virtual QList<ScreenInfo> screens() const = 0;
    virtual QPoint cursorPos() const = 0;

    // The process-wide layer; tests may install a fake (nullptr restores the Qt one).
    static Screens* current();
    static void setCurrent(Screens* screens);

Q_SIGNALS:
    void screensChanged(); // added, removed, moved, resized, primary changed
};

class QtScreens : public Screens {
    Q_OBJECT
public:
    explicit QtScreens(QObject* parent = nullptr);
    QList<ScreenInfo> screens() const override;
    QPoint cursorPos() const override;

private:
    void watch(QScreen* screen);
};

// Which screen carries the notch for a "displayChoice" value: "main" the primary screen,
// "mouse" the screen under the pointer (the primary one when the pointer is on none),
// anything else the screen with a camera notch, else the primary screen.
// Returns an index into screens, or -1 when there are none.
int chooseScreen(const QString& displayChoice, const QList<ScreenInfo>& screens, QPoint cursor);

// Whether a graphical session is reachable: $DISPLAY or $WAYLAND_DISPLAY set, or a Qt platform
// plugin named explicitly (offscreen in tests, or any the user chose).
bool hasGraphicalSession();

} // namespace lomex
