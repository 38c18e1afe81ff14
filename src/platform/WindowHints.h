#pragma once
#include <QtGlobal>

class QRegion;
class QWidget;

namespace lomex::windowhints {

// Asks the window manager to leave the window out of taskbars and pagers
// (_NET_WM_STATE_SKIP_TASKBAR / _SKIP_PAGER on X11; nothing elsewhere). Call before the window
// is first shown and again after, so both a window manager reading the state at map time and
// one taking requests later see it.
void keepOffTaskbar(QWidget* window);

// Marks a window as part of the desktop's furniture, not one the user arranges: a dock-type
// window (no frame, no move, minimise or close by the window manager), on every desktop.
// Call before the window is first shown. Nothing off X11.
void markAsDesktopPanel(QWidget* window);

// Shows the window in front with the keyboard focus, un-minimising it first.
void bringToFront(QWidget* window);

// The window that has the keyboard focus by the window manager's account (its X11 id), 0
// when there is none or this is not X11.
quint64 activeWindow();
// Asks the window manager to give the keyboard focus to the window (X11 id) as a pager would,
// which window managers honour even against focus-stealing rules. Nothing off X11.
void activate(quint64 window);

// Whether a compositing manager runs, so translucent windows blend with what lies below.
bool compositing();

// Where the window takes pointer input (logical pixels, window coordinates), leaving what it
// draws alone: elsewhere the pointer reaches what lies below. An empty region takes input
// everywhere again. False when this cannot be done here (not X11, no SHAPE extension).
bool setInputShape(QWidget* window, const QRegion& region);
// Makes the window draw nothing at all (an empty bounding shape), where no compositor blends
// an unpainted area away; it then takes no pointer input either. Undone by the next setMask().
// False when this cannot be done here (not X11, no SHAPE extension).
bool clearBoundingShape(QWidget* window);

} // namespace lomex::windowhints
