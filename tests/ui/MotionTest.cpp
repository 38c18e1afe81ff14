#include "ui/Motion.h"
#include "TestEnv.h"
#include <QVariantAnimation>
#include <QWidget>
#include <cmath>
#include <gtest/gtest.h>

using namespace lomex;
using lomex::test::LomexTest;

using lomex::test::ReducedMotion;

// The curve is the damped spring itself: it leaves 0, swings no further past 1 than the damping
// allows, and has come to rest by the end of its duration.
TEST(Motion, SpringCurveFollowsTheDampedSpringAndSettlesWithinItsDuration) {
    const motion::Spring springs[] = {{0.2, 0.85}, {0.5, 0.85}, {0.3, 0.5}, {0.5, 1.0}, {0.4, 1.4}};
    for (const motion::Spring& s : springs) {
        SCOPED_TRACE(testing::Message() << "response " << s.response << " damping " << s.dampingFraction);
        const motion::Timing t = motion::spring(s);
        const double settling = s.settlingSeconds();
        EXPECT_NEAR(t.milliseconds, settling * 1000, 1);
        EXPECT_DOUBLE_EQ(t.ease(0), 0);
        EXPECT_DOUBLE_EQ(t.ease(1), 1);
        double highest = 0;
        for (int i = 0; i <= 1000; ++i) {
            const double x = i / 1000.0;
            const double y = t.ease(x);
            highest = std::max(highest, y);
            // Settled: from the end of its duration on it stays within the tolerance of 1.
            EXPECT_LE(std::abs(s.position(settling * (1 + x)) - 1), motion::settleTolerance + 1e-9);
        }
        EXPECT_LE(highest - 1, s.overshoot() + 1e-6);
        if (s.dampingFraction < 1) {
            EXPECT_GT(highest, 1); // a spring, not an ease
        } else {
            EXPECT_LE(highest, 1 + 1e-6);
        }
    }
    // The damping bounds the swing: e^(-πζ/√(1-ζ²)).
    EXPECT_NEAR(motion::listSpring.overshoot(), 0.0063, 0.0002);
    EXPECT_NEAR(motion::Spring({0.3, 0.5}).overshoot(), 0.163, 0.001);
    EXPECT_LT(motion::pageSpring.settlingSeconds(), motion::listSpring.settlingSeconds());
}

using MotionTest = LomexTest;

TEST_F(MotionTest, ReducedMotionMakesEveryAnimationInstant) {
    QWidget host;
    host.resize(200, 100);
    auto* child = new QWidget(&host);
    child->setGeometry(10, 10, 50, 20);
    host.show();

    struct Case {
        const char* env;
        const char* gtkSetting;        // settings.ini line, or nullptr
        std::optional<bool> desktop;   // what the desktop portal said
        bool instant;
    } cases[] = {{"1", nullptr, std::nullopt, true},
                 {nullptr, "gtk-enable-animations=false", std::nullopt, true},
                 {nullptr, "gtk-enable-animations=0", std::nullopt, true},
                 {"0", "gtk-enable-animations=false", true, false}, // the switch wins over the desktop
                 {nullptr, "gtk-enable-animations=true", std::nullopt, false},
                 {nullptr, nullptr, true, true},
                 {nullptr, "gtk-enable-animations=false", false, false}, // the portal's answer first
                 {nullptr, nullptr, std::nullopt, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.env ? c.env : "-") << " " << (c.gtkSetting ? c.gtkSetting : "-") << " "
                                        << (c.desktop ? (*c.desktop ? "desktop reduced" : "desktop animated") : "-"));
        const ReducedMotion env(c.env);
        motion::setDesktopReduced(c.desktop);
        home.write(QStringLiteral(".config/gtk-3.0/settings.ini"),
                   c.gtkSetting ? QByteArray("[Settings]\n") + c.gtkSetting + "\n" : QByteArray());
        EXPECT_EQ(motion::reduced(), c.instant);

        std::vector<double> steps;
        bool done = false;
        QVariantAnimation* a = motion::run(&host, motion::standard(), [&](double p) { steps.push_back(p); },
                                           [&] { done = true; });
        motion::fadeOutPicture(child, motion::standard());
        motion::slideFrom(child, QPoint(100, 60), motion::standard());
        motion::fadeIn(child, motion::standard());
        if (c.instant) {
            EXPECT_EQ(a, nullptr);
            EXPECT_EQ(steps, std::vector<double>{1.0});
            EXPECT_TRUE(done);
            EXPECT_EQ(child->pos(), QPoint(10, 10));
            EXPECT_EQ(child->graphicsEffect(), nullptr);
            EXPECT_FALSE(test::moving(&host));
        } else {
            ASSERT_NE(a, nullptr);
            EXPECT_FALSE(done);
            EXPECT_EQ(child->pos(), QPoint(100, 60));
            EXPECT_NE(child->graphicsEffect(), nullptr);
            EXPECT_TRUE(test::moving(&host));
            ASSERT_TRUE(test::waitUntil([&] { return done; }, 3000));
            EXPECT_DOUBLE_EQ(steps.back(), 1.0);
            ASSERT_TRUE(test::waitUntil([&] { return !test::moving(&host); }, 3000));
            EXPECT_EQ(child->pos(), QPoint(10, 10));
            EXPECT_EQ(child->graphicsEffect(), nullptr);
        }
    }
    motion::setDesktopReduced(std::nullopt);
}

// A picture without its widget's own background holds only what the children draw, so what
// the parent paints behind stays steady while it fades.
TEST_F(MotionTest, PictureWithoutBackgroundLeavesTheWidgetsOwnFillOut) {
    const ReducedMotion env("0");
    QWidget host;
    host.resize(120, 60);
    auto* panel = new QWidget(&host);
    panel->setGeometry(0, 0, 120, 60);
    panel->setAutoFillBackground(true);
    QPalette red = panel->palette();
    red.setColor(QPalette::Window, Qt::red);
    panel->setPalette(red);
    auto* child = new QWidget(panel);
    child->setGeometry(80, 20, 20, 20);
    child->setAutoFillBackground(true);
    QPalette blue = child->palette();
    blue.setColor(QPalette::Window, Qt::blue);
    child->setPalette(blue);
    host.show();
    for (auto background : {motion::Background::with, motion::Background::without}) {
        SCOPED_TRACE(background == motion::Background::with ? "with" : "without");
        panel->show();
        motion::fadeOutPicture(panel, motion::standard(), nullptr, background);
        // The panel gone, what is left at its place is the picture over the host.
        panel->hide();
        const QImage shot = host.grab().toImage();
        EXPECT_EQ(shot.pixelColor(10, 10) == QColor(Qt::red), background == motion::Background::with);
        EXPECT_EQ(shot.pixelColor(90, 30), QColor(Qt::blue)) << "the children are in it";
        for (QWidget* done : host.findChildren<QWidget*>(QStringLiteral("motion.picture"))) done->hide();
    }
}
