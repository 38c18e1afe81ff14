#pragma once
#include "core/Services.h"
#include <QElapsedTimer>
#include <QWidget>

namespace lomex {

class Clock;
class NotchModel;
class NotchRootView;
class PointerClicks;
class Screens;
class Settings;
class Timer;

// The window that hosts the notch: frameless, above other windows, a tool window (no taskbar
// entry), at the top centre of the screen that "displayChoice" names. It is as large as the
// open notch; its shape (XShape mask on X11) is the closed pill while closed, so the pointer
// reaches what lies below everywhere else, and the open panel while open.
class NotchPanel : public QWidget {
    Q_OBJECT
public:
    // clicks: the outside-press source (nullptr: the platform's own, owned by the panel).
    NotchPanel(const Services& services, Screens* screens = nullptr, Clock* clock = nullptr,
               Settings* settings = nullptr, PointerClicks* clicks = nullptr);
    ~NotchPanel() override;

    NotchRootView* root() const { return root_; }
    NotchModel* model() const { return model_; }

    // Chooses the screen again and moves there (setting or screens changed).
    void place();
    // Index into Screens::screens() of the screen in use, -1 when there is none.
    int screenIndex() const { return screenIndex_; }
    // The shape the window currently has, in window coordinates.
    QRegion shape() const { return shape_; }
    // What the window draws: the shape, but nothing for the hidden pill's hover strip where no
    // compositor blends unpainted pixels away (the pointer there is watched instead).
    QRegion drawnShape() const { return drawn_; }
    // Brings the panel forward and gives keyboard input to the view focused inside it. A click
    // made just before does not take the keyboard back from it.
    void makeKey();
    // A PNG of what the panel shows now.
    QByteArray snapshotPng() const;

    // While open: a press of a pointer button outside the open area closes the notch.
    void pointerPressed(QPoint global);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool pointerOverOpenNotch() const;
    void updateShape();
    void checkStripHover();
    void updateMouseFollow();
    bool pillShown() const;
    // The window that had the keyboard before the notch opened gets it back when it closes.
    void rememberFocus();
    void giveFocusBack();
    // After a click outside a text field: the keyboard goes back to the window that had it.
    void handClickFocusBack();
    void handKeyboardTo(quint64 window);
    // Whether a click that ends on the widget leaves the keyboard with a text field.
    bool clickTakesText(QWidget* target) const;
    bool holdsKeyboard() const;
    // Called once the native window exists: what the window manager must know about it.
    void watchScreen();

    NotchModel* model_;
    Screens* screens_;
    Clock* clock_;
    Settings* settings_;
    NotchRootView* root_;
    QRegion shape_;
    qreal shapeScale_ = 0;          // the scale the shape was last applied at
    bool blended_ = false;          // shaped for input only, under a compositor
    QPoint home_;                   // where the panel belongs on its screen
    quint64 focusBefore_ = 0;       // the window with the keyboard when the notch opened
    // Since the end of a click outside a text field: whatever keyboard focus the window manager
    // gives us for it (at once, late, or in two steps) goes back for this long.
    QElapsedTimer clickFocusAt_;
    static constexpr int kClickFocusMs = 2000;
    // The window we last gave the keyboard back to: until the window manager has done it, the
    // keyboard still looks like ours (or nobody's), though that window is the one that had it.
    quint64 handedTo_ = 0;
    QElapsedTimer handedAt_;
    static constexpr int kHandOverMs = 1000;
    int screenIndex_ = -1;
    Timer* followTimer_;   // "mouse": looks for the pointer's screen
    Timer* stripWatch_;    // the hidden pill's strip, where nothing is drawn to take input
    bool pointerOnStrip_ = false;
    QRegion drawn_;        // what the window shows of itself
    PointerClicks* clicks_;
};

} // namespace lomex
