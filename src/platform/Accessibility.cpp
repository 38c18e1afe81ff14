#include "platform/Accessibility.h"
#include <X11/Xlib.h>
#include <cstdlib>

namespace lomex::accessibility {

bool isTrusted() {
    const char* name = std::getenv("DISPLAY");
    if (!name || !*name) return false;
    Display* display = XOpenDisplay(name);
    if (!display) return false;
    int opcode = 0, event = 0, error = 0;
    const bool has = XQueryExtension(display, "XTEST", &opcode, &event, &error);
    XCloseDisplay(display);
    return has;
}

} // namespace lomex::accessibility
