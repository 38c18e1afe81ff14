#pragma once
#include <QString>

namespace lomex::feedback {

// Trackpad haptics and named system sounds ("Hero", "Funk", "Glass") have no counterpart on a
// Linux desktop: the calls exist so callers stay the same, do nothing, and say so once in the log.
enum class Haptic { levelChange, alignment, generic };

void haptic(Haptic kind);
void playSound(const QString& name);

// How many calls arrived (tests).
int hapticCalls();
int soundCalls();

} // namespace lomex::feedback
