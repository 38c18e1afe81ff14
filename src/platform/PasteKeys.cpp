#include "platform/PasteKeys.h"
#include "platform/DesktopAutomation.h"

#include <atomic>

namespace lomex {

namespace {
std::atomic<PasteKeys*> installed{nullptr};
} // namespace

PasteKeys* PasteKeys::current() {
    PasteKeys* k = installed.load();
    if (k) return k;
    static X11PasteKeys x11;
    return &x11;
}

void PasteKeys::setCurrent(PasteKeys* keys) { installed.store(keys); }

// The desktop automation layer already holds the X connection and the XTEST keys.
bool X11PasteKeys::trusted() const { return DesktopAutomation::current()->trusted(); }

bool X11PasteKeys::sendPaste() {
    DesktopAutomation* automation = DesktopAutomation::current();
    if (!automation->trusted()) return false;
    automation->sendPaste(false);
    return true;
}

} // namespace lomex
