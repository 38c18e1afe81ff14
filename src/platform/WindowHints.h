#pragma once

class QWidget;

namespace lomex::windowhints {

// Asks the window manager to leave the window out of taskbars and pagers
// (_NET_WM_STATE_SKIP_TASKBAR / _SKIP_PAGER on X11; nothing elsewhere). Call before the window
// is first shown and again after, so both a window manager reading the state at map time and
// one taking requests later see it.
void keepOffTaskbar(QWidget* window);

} // namespace lomex::windowhints
