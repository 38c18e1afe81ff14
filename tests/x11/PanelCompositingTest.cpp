#include "TestEnv.h"
#include "X11Desktop.h"
#include "app/AppDelegate.h"
#include "app/NotchPanel.h"
#include "core/Clock.h"
#include "core/Settings.h"
#include "platform/WindowHints.h"
#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <memory>

using namespace lomex;

// Under a compositing manager the pill is drawn with smooth edges on a translucent window and
// only its input is shaped: beside the pill the pointer reaches the window below.
TEST(PanelCompositingTest, UnderACompositorEdgesAreSmoothAndInputPassesBeside) {
    test::TempHome home;
    test::X11Desktop* desktop = test::X11Desktop::current();
    if (!desktop) GTEST_SKIP() << "no private X server with openbox (Xvfb and openbox are in scripts/bootstrap)";
    desktop->spawn("xcompmgr", {});
    ASSERT_TRUE(test::waitUntil([] { return windowhints::compositing(); }, 5000));
    desktop->run("xsetroot", {"-solid", "#ffffff"});
    // A terminal under the panel's area, beside the pill.
    desktop->spawn("xterm", {"-geometry", "40x10+1300+60", "-e", "sleep", "60"});
    quint64 xterm = 0;
    ASSERT_TRUE(test::waitUntil([&] { return (xterm = desktop->activeWindow()) != 0; }, 10000));

    Settings::shared().setBool("onboardingDone", true);
    auto app = std::make_unique<AppDelegate>(Clock::system());
    app->applicationDidFinishLaunching();
    NotchPanel* panel = app->panel();
    // Something else takes the keyboard, then the pointer presses beside the pill.
    desktop->run("xdotool", {"mousemove", "100", "900", "click", "1"});
    ASSERT_TRUE(test::waitUntil([&] { return desktop->activeWindow() != xterm; }, 3000));
    const QRect pill = panel->shape().boundingRect().translated(panel->pos());
    ASSERT_TRUE(pill.isValid());
    test::waitUntil([] { return false; }, 300);
    EXPECT_TRUE(desktop->run("xwininfo", {"-id", QString::number(panel->winId()), "-shape"}).contains("No window shape defined"));
    desktop->run("xdotool", {"mousemove", "1400", "100", "click", "1"});
    EXPECT_TRUE(test::waitUntil([&] { return desktop->activeWindow() == xterm; }, 3000)) << "the press reached the terminal";

    // The lower corners blend black into the white below: some pixels are neither.
    const QImage screen = QGuiApplication::primaryScreen()->grabWindow(0, pill.x(), pill.bottom() - 12, 14, 14).toImage();
    int between = 0;
    for (int y = 0; y < screen.height(); ++y)
        for (int x = 0; x < screen.width(); ++x) {
            const int v = qGray(screen.pixel(x, y));
            if (v > 20 && v < 235) ++between;
        }
    EXPECT_GT(between, 2);
    app.reset();
}
