#pragma once
#include <QString>
#include <QStringList>

namespace lomex::feedback {

// Trackpad haptics have no counterpart on a Linux desktop: the call exists so callers stay the
// same, does nothing, and says so once in the log.
enum class Haptic { levelChange, alignment, generic };
void haptic(Haptic kind);

// The app's three named sounds: "Funk" (an agent needs the user), "Glass" (an agent finished)
// and "Hero" (time to leave). They are played from the desktop's sound theme by their
// freedesktop event ids; an unknown name plays nothing.
QString soundEventId(const QString& name);

// Who plays the sounds; the desktop player unless a test installs another.
class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;
    // Returns at once; the sound plays, or fails silently, elsewhere.
    virtual void play(const QString& name) = 0;

    static SoundPlayer* current();
    static void setCurrent(SoundPlayer* player); // nullptr restores the desktop player
};

// libcanberra on a thread of its own: playing never waits for the sound server, and a desktop
// without one (no server, no device, no theme) stays silent but for one log line.
class CanberraSoundPlayer : public SoundPlayer {
public:
    void play(const QString& name) override;
    // Attempts the player thread has finished, and how many of them failed (tests).
    static int attempts();
    static int failures();
};

void playSound(const QString& name);

// How many calls arrived (tests).
int hapticCalls();
int soundCalls();

} // namespace lomex::feedback
