#include "TestEnv.h"
#include "core/Settings.h"
#include "device/Monitors.h"
#include "device/PomodoroTimer.h"
#include "platform/PowerSource.h"

using namespace lomex;

namespace {
class DeviceTest : public test::LomexTest {};
} // namespace

TEST_F(DeviceTest, PomodoroLengthsAndShortcutNames) {
    PomodoroTimer timer;
    EXPECT_EQ(timer.total(), 25 * 60);
    timer.setPhase(PomodoroTimer::Phase::rest);
    EXPECT_EQ(timer.total(), 5 * 60);
    Settings::shared().setInt("breakMinutes", 0);
    EXPECT_EQ(timer.total(), 60); // at least a minute
    // Shortened while running: over, never negative.
    Settings::shared().setInt("breakMinutes", 1);
    EXPECT_EQ(timer.remaining(300), 0);
    EXPECT_EQ(timer.remaining(-5), 60);

    Settings::shared().setString("focusShortcutOn", " \t\u00a0Focus on \t");
    EXPECT_EQ(timer.shortcutName(true), "Focus on");
    Settings::shared().setString("focusShortcutOff", "\nOff\n"); // line breaks are not trimmed
    EXPECT_EQ(timer.shortcutName(false), "\nOff\n");
    Settings::shared().setString("focusShortcutOn", "   ");
    EXPECT_EQ(timer.runShortcut(true), "");
}

TEST_F(DeviceTest, BatteryNoticesOnlyWhileTheSettingIsOn) {
    FakePowerSource power;
    power.reading = PowerSource::Reading{50, false};
    BatteryMonitor monitor(&power);
    QList<Notice> shown;
    monitor.onNotice = [&](const Notice& n) { shown << n; };
    monitor.start();

    power.set({51, true}); // plugged in
    power.set({52, true});
    power.set({25, false});
    power.set({20, false}); // low, once per discharge
    power.set({19, false});
    ASSERT_EQ(shown.size(), 2);
    EXPECT_EQ(shown[0].kind, Notice::Kind::charging);
    EXPECT_EQ(shown[1].kind, Notice::Kind::lowBattery);
    EXPECT_EQ(shown[1].percent, 20);

    Settings::shared().setBool("batteryNotices", false);
    power.set({20, true});
    power.set({10, false});
    EXPECT_EQ(shown.size(), 2);

    HeadphoneMonitor phones;
    phones.onNotice = [&](const Notice& n) { shown << n; };
    phones.start();
    phones.deviceConnected("Buds", {{"L", 80}});
    EXPECT_EQ(shown.size(), 3);
    Settings::shared().setBool("headphoneNotices", false);
    phones.deviceConnected("Buds", {{"L", 80}});
    EXPECT_EQ(shown.size(), 3);
}
