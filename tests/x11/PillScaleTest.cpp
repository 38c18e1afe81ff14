#include "TestEnv.h"
#include "X11Desktop.h"
#include <QDir>
#include <QFile>
#include <QPoint>
#include <QRect>
#include <QRegularExpression>
#include <QThread>

using namespace lomex;

namespace {

// What xwininfo says of a window: its size in device pixels and its shape's extents.
struct Native {
    QRect geometry;
    QRect shape;
};

class PillScaleTest : public test::LomexTest {
protected:
    void SetUp() override {
        desktop = test::X11Desktop::current();
        if (!desktop) GTEST_SKIP() << "no private X server with openbox (Xvfb and openbox are in scripts/bootstrap)";
    }
    void TearDown() override {
        if (!desktop) return;
        desktop->stopHelpers();
        for (const char* m : {"LEFT", "RIGHT"}) desktop->run("xrandr", {"--delmonitor", m});
    }
    // The notch panel's window: the dock-type window titled "Lomex".
    quint64 panelWindow() {
        for (const QString& id : desktop->run("xdotool", {"search", "--name", "^Lomex$"}).split('\n', Qt::SkipEmptyParts)) {
            if (desktop->run("xprop", {"-id", id, "_NET_WM_WINDOW_TYPE"}).contains("_NET_WM_WINDOW_TYPE_DOCK")) return id.toULongLong();
        }
        return 0;
    }
    Native native(quint64 window) {
        const QString info = desktop->run("xwininfo", {"-id", QString::number(window), "-shape"});
        auto number = [&](const QString& label) {
            const auto m = QRegularExpression(QRegularExpression::escape(label) + R"(\s*(-?\d+))").match(info);
            return m.hasMatch() ? m.captured(1).toInt() : -1;
        };
        Native n;
        n.geometry = QRect(number("Absolute upper-left X:"), number("Absolute upper-left Y:"), number("Width:"), number("Height:"));
        // "  Window shape extents:  190x32+267+0"
        const auto m = QRegularExpression(R"(Window shape extents:\s*(\d+)x(\d+)\+(-?\d+)\+(-?\d+))").match(info);
        if (m.hasMatch()) n.shape = QRect(m.captured(3).toInt(), m.captured(4).toInt(), m.captured(1).toInt(), m.captured(2).toInt());
        return n;
    }
    test::X11Desktop* desktop = nullptr;
};

} // namespace

// Two screens side by side, the right one at twice the scale, the notch following the pointer:
// on each screen the pill is as large as that screen's scale makes it, at the top centre.
TEST_F(PillScaleTest, ThePillFollowsThePointerAtEachScreensScale) {
    ASSERT_FALSE(desktop->run("xrandr", {"--setmonitor", "LEFT", "1920/508x1200/318+0+0", "none"}).contains("error"));
    desktop->run("xrandr", {"--setmonitor", "RIGHT", "1920/508x1200/318+1920+0", "none"});
    ASSERT_TRUE(desktop->run("xrandr", {"--listmonitors"}).contains("RIGHT"));
    home.write(".config/Lomex/settings.json", R"({"displayChoice": "mouse", "onboardingDone": true})");
    desktop->run("xdotool", {"mousemove", "300", "600"});

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("QT_SCREEN_SCALE_FACTORS", "LEFT=1;RIGHT=2");
    desktop->spawn(LOMEX_BINARY, {}, env);
    quint64 panel = 0;
    ASSERT_TRUE(test::waitUntil([&] { return (panel = panelWindow()) != 0; }, 10000));

    struct Step {
        QPoint pointer;
        int screenLeft, scale;
    } steps[] = {{{300, 600}, 0, 1}, {{2800, 600}, 1920, 2}, {{300, 600}, 0, 1}, {{2800, 300}, 1920, 2}};
    int pillWidth = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE(QString("pointer %1,%2").arg(step.pointer.x()).arg(step.pointer.y()).toStdString());
        desktop->run("xdotool", {"mousemove", QString::number(step.pointer.x()), QString::number(step.pointer.y())});
        Native n;
        const bool placed = test::waitUntil([&] {
            n = native(panel);
            return n.geometry.width() == 724 * step.scale && n.geometry.x() == step.screenLeft + (1920 - 724 * step.scale) / 2 &&
                   n.shape.isValid() && n.shape.width() != pillWidth * (3 - step.scale);
        }, 3000);
        EXPECT_TRUE(placed) << "window " << n.geometry.x() << "," << n.geometry.y() << " " << n.geometry.width() << "x"
                            << n.geometry.height() << ", shape " << n.shape.x() << "," << n.shape.y() << " "
                            << n.shape.width() << "x" << n.shape.height();
        if (!pillWidth) pillWidth = n.shape.width();
        // The pill, at this screen's scale, at the top centre of the window.
        EXPECT_EQ(n.shape.width(), pillWidth * step.scale);
        EXPECT_EQ(n.shape.top(), 0);
        EXPECT_NEAR(n.shape.center().x(), n.geometry.width() / 2, step.scale);
    }
}
