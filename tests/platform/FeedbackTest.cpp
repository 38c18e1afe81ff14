#include "TestEnv.h"
#include "platform/Feedback.h"
#include <QElapsedTimer>
#include <QFileInfo>

using namespace lomex;
using namespace lomex::feedback;

// Each named sound is a sound the freedesktop theme really has.
TEST(FeedbackTest, NamedSoundsMapToSoundThemeEvents) {
    const struct {
        const char* name;
        const char* eventId;
    } cases[] = {{"Funk", "message-new-instant"}, {"Glass", "complete"}, {"Hero", "alarm-clock-elapsed"},
                 {"Ping", ""}, {"", ""}};
    const QString theme = QStringLiteral("/usr/share/sounds/freedesktop/stereo/");
    for (const auto& c : cases) {
        EXPECT_EQ(soundEventId(c.name), QString::fromUtf8(c.eventId)) << c.name;
        if (*c.eventId && QFileInfo::exists(theme)) {
            EXPECT_TRUE(QFileInfo::exists(theme + c.eventId + ".oga")) << c.eventId;
        }
    }
}

// Without a sound server or device (as here) a sound fails quietly on its own thread: the
// caller is not held up, nothing crashes, and the next one is tried again.
TEST(FeedbackTest, TheDesktopPlayerFailsSilentlyOffTheCallersThread) {
    CanberraSoundPlayer player;
    const int before = CanberraSoundPlayer::attempts();
    player.play(QStringLiteral("Ping")); // unknown: nothing to attempt
    player.play(QStringLiteral("Funk"));
    ASSERT_TRUE(test::waitUntil([&] { return CanberraSoundPlayer::attempts() == before + 1; }, 10000));
    player.play(QStringLiteral("Hero"));
    ASSERT_TRUE(test::waitUntil([&] { return CanberraSoundPlayer::attempts() == before + 2; }, 10000));
    EXPECT_LE(CanberraSoundPlayer::failures(), CanberraSoundPlayer::attempts());
}
