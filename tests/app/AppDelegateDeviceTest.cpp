#include "TestEnv.h"
#include "app/AppDelegate.h"
#include "app/NotchPanel.h"
#include "core/Clock.h"
#include "device/ClipboardStore.h"
#include "device/ShelfStore.h"
#include "notch/NotchPageHost.h"
#include "notch/NotchRootView.h"
#include "platform/Clipboard.h"
#include "platform/RunningApps.h"
#include "platform/Screens.h"
#include "tabs/ShelfView.h"
#include "FakeClipboard.h"
#include "FakeClock.h"
#include "FakeRunningApps.h"
#include "FakeScreens.h"

using namespace lomex;

TEST(AppDelegateDeviceTest, OwnsTheShelfAndClipboardStoresShowsTheShelfTabAndPollsTheClipboard) {
    test::TempHome home;
    FakeClipboard clipboard;
    FakeRunningApps apps;
    Clipboard::setCurrent(&clipboard);
    RunningApps::setCurrent(&apps);
    FakeClock clock;
    FakeScreens screens;
    screens.setScreens({ScreenInfo{"only", QRect(0, 0, 1920, 1080), true, false}});
    {
        AppDelegate app(&clock, &screens);
        app.applicationDidFinishLaunching();
        const Services s = app.inject();
        ASSERT_NE(s.shelf, nullptr);
        EXPECT_EQ(s.shelf, app.shelf());
        EXPECT_EQ(s.clipboard, app.clipboard());
        EXPECT_NE(qobject_cast<ShelfView*>(app.panel()->root()->pages()->page(NotchModel::Tab::shelf)), nullptr);

        ClipboardContent c;
        c.text = "copied after launch";
        clipboard.copy(c);
        clock.advance(ClipboardStore::pollSeconds);
        ASSERT_TRUE(test::waitUntil([&] { return app.clipboard()->clips().size() == 1; })); // read off the GUI thread
        EXPECT_EQ(app.clipboard()->clips()[0].text, "copied after launch");
    }
    Clipboard::setCurrent(nullptr);
    RunningApps::setCurrent(nullptr);
}
