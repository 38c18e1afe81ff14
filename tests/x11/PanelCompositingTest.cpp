#include "TestEnv.h"
#include "X11Desktop.h"
#include "app/AppDelegate.h"
#include "app/NotchPanel.h"
#include "core/Clock.h"
#include "core/Settings.h"
#include "notch/NotchModel.h"
#include "platform/WindowHints.h"
#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <memory>

using namespace lomex;

namespace {
// A compositing manager over a white root on the private desktop; false when it does not come up.
bool startCompositor(test::X11Desktop* desktop) {
    desktop->spawn("xcompmgr", {});
    if (!test::waitUntil([] { return windowhints::compositing(); }, 5000)) return false;
    desktop->run("xsetroot", {"-solid", "#ffffff"});
    return true;
}
} // namespace

// Under a compositing manager the pill is drawn with smooth edges on a translucent window and
// only its input is shaped: beside the pill the pointer reaches the window below.
TEST(PanelCompositingTest, UnderACompositorEdgesAreSmoothAndInputPassesBeside) {
    test::TempHome home;
    test::X11Desktop* desktop = test::X11Desktop::current();
    if (!desktop) GTEST_SKIP() << "no private X server with openbox (Xvfb and openbox are in scripts/bootstrap)";
    ASSERT_TRUE(startCompositor(desktop));
    // A terminal under the panel's area, beside the pill.
    const quint64 xterm = desktop->startXterm({"-geometry", "40x10+1300+60", "-e", "sleep", "60"});
    ASSERT_NE(xterm, 0u);

    Settings::shared().set(keys::onboardingDone, true);
    auto app = std::make_unique<AppDelegate>(Clock::system());
    app->applicationDidFinishLaunching();
    NotchPanel* panel = app->panel();
    // Something else takes the keyboard (another terminal: a press on the bare desktop does not
    // always take it from the first), then the pointer presses beside the pill.
    ASSERT_NE(desktop->startXterm({"-geometry", "40x10+40+800", "-e", "sleep", "60"}), 0u);
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

// Under a compositor the pill's lower corners are round with a live activity as without one.
TEST(PanelCompositingTest, ThePillIsRoundWithAndWithoutALiveActivity) {
    test::TempHome home;
    test::X11Desktop* desktop = test::X11Desktop::current();
    if (!desktop) GTEST_SKIP() << "no private X server with openbox (Xvfb and openbox are in scripts/bootstrap)";
    ASSERT_TRUE(startCompositor(desktop));
    Settings::shared().set(keys::onboardingDone, true);
    auto app = std::make_unique<AppDelegate>(Clock::system());
    app->applicationDidFinishLaunching();
    NotchPanel* panel = app->panel();
    const struct {
        const char* pillMode;
        NotchModel::Live live;
    } cases[] = {{"always", NotchModel::Live::none},      {"always", NotchModel::Live::timer},
                 {"always", NotchModel::Live::agent},     {"activity", NotchModel::Live::notice},
                 {"activity", NotchModel::Live::agent}};
    for (const auto& c : cases) {
        const NotchModel::Live live = c.live;
        SCOPED_TRACE(testing::Message() << c.pillMode << " " << NotchModel::rawName(live).toStdString());
        Settings::shared().set(keys::pillMode, c.pillMode);
        app->model()->setLive(live);
        test::waitUntil([] { return false; }, 400);
        const QRect pill = panel->shape().boundingRect().translated(panel->pos());
        ASSERT_TRUE(pill.isValid());
        // The outermost pixel of each lower corner shows the desktop, not black.
        const QImage screen = QGuiApplication::primaryScreen()->grabWindow(0, pill.x(), pill.y(), pill.width(), pill.height()).toImage();
        for (const QPoint corner : {QPoint(0, screen.height() - 1), QPoint(screen.width() - 1, screen.height() - 1)})
            EXPECT_GT(qGray(screen.pixel(corner)), 60) << corner.x() << "," << corner.y() << " of " << pill.width() << "x" << pill.height();
    }
    app.reset();
    desktop->stopHelpers();
}
