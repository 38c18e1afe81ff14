#include "platform/Feedback.h"
#include "core/Log.h"
#include <atomic>

namespace lomex::feedback {

namespace {
std::atomic<int> g_haptics{0};
std::atomic<int> g_sounds{0};
}

void haptic(Haptic) {
    if (g_haptics++ == 0) log("haptic feedback is not available on this system; ignored");
}

void playSound(const QString& name) {
    if (g_sounds++ == 0) log("system sounds are not available on this system; ignored (\"" + name + "\")");
}

int hapticCalls() { return g_haptics; }
int soundCalls() { return g_sounds; }

} // namespace lomex::feedback
