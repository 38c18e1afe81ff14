#include "platform/PasteKeys.h"

#include <atomic>
#include <cstdlib>
// Xlib's macros (None, Bool, Status...) stay inside this file.
#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <X11/extensions/XTest.h>

namespace lomex {

namespace {
std::atomic<PasteKeys*> installed{nullptr};

// One short-lived connection per use: pastes are rare, and a held connection would outlive a
// restarted X server.
struct Display_ {
    Display* d = nullptr;
    Display_() {
        const char* name = std::getenv("DISPLAY");
        if (name && *name) d = XOpenDisplay(name);
    }
    ~Display_() {
        if (d) XCloseDisplay(d);
    }
    bool hasXTest() const {
        int event = 0, error = 0, major = 0, minor = 0;
        return d && XTestQueryExtension(d, &event, &error, &major, &minor);
    }
};
} // namespace

PasteKeys* PasteKeys::current() {
    PasteKeys* k = installed.load();
    if (k) return k;
    static X11PasteKeys x11;
    return &x11;
}

void PasteKeys::setCurrent(PasteKeys* keys) { installed.store(keys); }

bool X11PasteKeys::trusted() const { return Display_().hasXTest(); }

bool X11PasteKeys::sendPaste() {
    Display_ display;
    if (!display.hasXTest()) return false;
    const KeyCode control = XKeysymToKeycode(display.d, XK_Control_L);
    const KeyCode v = XKeysymToKeycode(display.d, XK_v);
    if (!control || !v) return false;
    XTestFakeKeyEvent(display.d, control, True, CurrentTime);
    XTestFakeKeyEvent(display.d, v, True, CurrentTime);
    XTestFakeKeyEvent(display.d, v, False, CurrentTime);
    XTestFakeKeyEvent(display.d, control, False, CurrentTime);
    XSync(display.d, False);
    return true;
}

} // namespace lomex
