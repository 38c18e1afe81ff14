#include "TestEnv.h"
#include "platform/BluetoothAudio.h"
#include "core/Settings.h"
#include "device/Monitors.h"
#include "device/PomodoroTimer.h"
#include "platform/PowerSource.h"
#include "FakeBluetoothAudio.h"
#include "FakePowerSource.h"

using namespace lomex;

namespace {
class DeviceTest : public test::LomexTest {};
} // namespace

TEST_F(DeviceTest, PomodoroLengthsAndShortcutNames) {
    PomodoroTimer timer;
    EXPECT_EQ(timer.total(), 25 * 60);
    timer.setPhase(PomodoroTimer::Phase::rest);
    EXPECT_EQ(timer.total(), 5 * 60);
    Settings::shared().set(keys::breakMinutes, 0);
    EXPECT_EQ(timer.total(), 60); // at least a minute
    // Shortened while running: over, never negative.
    Settings::shared().set(keys::breakMinutes, 1);
    EXPECT_EQ(timer.remaining(300), 0);
    EXPECT_EQ(timer.remaining(-5), 60);

    Settings::shared().set(keys::focusShortcutOn, " \t\u00a0Focus on \t");
    EXPECT_EQ(timer.shortcutName(true), "Focus on");
    Settings::shared().set(keys::focusShortcutOff, "\nOff\n"); // line breaks are not trimmed
    EXPECT_EQ(timer.shortcutName(false), "\nOff\n");
    Settings::shared().set(keys::focusShortcutOn, "   ");
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

    Settings::shared().set(keys::batteryNotices, false);
    power.set({20, true});
    power.set({10, false});
    EXPECT_EQ(shown.size(), 2);

    // Headphones: the Bluetooth watch runs only while the setting is on, and a connection
    // raises the device notice with its battery when there is one.
    auto* bluetooth = new FakeBluetoothAudio;
    HeadphoneMonitor phones(bluetooth);
    phones.onNotice = [&](const Notice& n) { shown << n; };
    phones.start();
    EXPECT_TRUE(bluetooth->isWatching());
    bluetooth->connect("Buds", 80);
    ASSERT_EQ(shown.size(), 3);
    EXPECT_EQ(shown[2].kind, Notice::Kind::device);
    EXPECT_EQ(shown[2].name, "Buds");
    EXPECT_EQ(shown[2].batteries.value(0).percent, 80);
    bluetooth->connect("Speaker", std::nullopt);
    ASSERT_EQ(shown.size(), 4);
    EXPECT_TRUE(shown[3].batteries.isEmpty());
    Settings::shared().set(keys::headphoneNotices, false);
    bluetooth->connect("Buds", 80); // read at each connection
    EXPECT_EQ(shown.size(), 4);
    phones.setWatching(false);
    EXPECT_FALSE(bluetooth->isWatching());
    phones.setWatching(true);
    EXPECT_EQ(bluetooth->starts, 2);
}
