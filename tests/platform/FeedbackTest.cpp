#include "TestEnv.h"
#include "platform/Feedback.h"
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryFile>
#include <cstdio>
#include <unistd.h>

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

// Without a sound device every attempt fails: the log says so once, and ALSA's own error lines
// (eight of them per attempt) never reach it.
TEST(FeedbackTest, WithoutASoundDeviceTheLogSaysSoOnceAndALSAStaysQuiet) {
    if (QFileInfo::exists(QStringLiteral("/dev/snd"))) GTEST_SKIP() << "this machine has a sound device";
    QTemporaryFile capture;
    ASSERT_TRUE(capture.open());
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    ASSERT_GE(::dup2(capture.handle(), STDERR_FILENO), 0);
    CanberraSoundPlayer player;
    const int before = CanberraSoundPlayer::attempts();
    int played = 0;
    for (const char* name : {"Funk", "Glass", "Hero", "Funk"}) {
        player.play(QString::fromLatin1(name));
        ++played;
        test::waitUntil([&] { return CanberraSoundPlayer::attempts() == before + played; }, 10000);
    }
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    EXPECT_EQ(CanberraSoundPlayer::attempts(), before + played);
    capture.seek(0);
    const QByteArray err = capture.readAll();
    EXPECT_FALSE(err.contains("ALSA")) << err.constData();
    EXPECT_LE(err.count("sounds cannot be played"), 1) << err.constData();
    EXPECT_EQ(err.count("sounds cannot be played"), CanberraSoundPlayer::failures() > 0 ? 1 : 0) << err.constData();
}
