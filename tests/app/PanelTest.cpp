#include "TestEnv.h"
#include "notch/NotchModel.h"
#include "app/NotchPanel.h"
#include "core/Clock.h"
#include "core/Settings.h"
#include "notch/NotchPageHost.h"
#include "notch/NotchRootView.h"
#include "platform/PointerClicks.h"
#include "platform/Screens.h"
#include "FakeClock.h"
#include "FakePointerClicks.h"
#include "FakeScreens.h"
#include <QDragEnterEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QTest>
#include <memory>

using namespace lomex;
using Tab = NotchModel::Tab;

namespace {

// Two displays side by side: a 1920x1080 primary on the left and a larger one on the right.
const ScreenInfo kLeft{"left", QRect(0, 0, 1920, 1080), true, false};
const ScreenInfo kRight{"right", QRect(1920, 0, 2560, 1440), false, false};

class PanelTest : public test::LomexTest {
protected:
    void SetUp() override {
        Settings::shared().registerLaunchDefaults();
        screens.setScreens({kLeft, kRight});
        screens.setCursorPos(QPoint(100, 100));
    }
    void build() {
        // The panel writes into its model while it goes: the old one goes first.
        panel.reset();
        model = std::make_unique<NotchModel>(&clock, &Settings::shared());
        Services s;
        s.model = model.get();
        panel = std::make_unique<NotchPanel>(s, &screens, &clock, &Settings::shared(), &clicks);
    }
    static int centreX(const QRect& r) { return r.x() + r.width() / 2; }

    FakeClock clock;
    FakeScreens screens;
    FakePointerClicks clicks;
    std::unique_ptr<NotchModel> model;
    std::unique_ptr<NotchPanel> panel;

    void TearDown() override {
        panel.reset();
        model.reset();
    }
};

} // namespace

TEST_F(PanelTest, DisplayChoiceChoosesTheScreen) {
    struct Case {
        const char* choice; // nullptr: nothing stored
        QPoint cursor;
        QRect expected;
    };
    const Case cases[] = {
        {nullptr, {3000, 500}, kLeft.frame},   // no notch screen on Linux: the primary one
        {"auto", {3000, 500}, kLeft.frame},
        {"main", {3000, 500}, kLeft.frame},
        {"mouse", {3000, 500}, kRight.frame},
        {"mouse", {10, 10}, kLeft.frame},
        {"mouse", {-500, -500}, kLeft.frame},  // pointer on no screen: primary
        {"sideways", {3000, 500}, kLeft.frame},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.choice ? c.choice : "<absent>");
        if (c.choice) Settings::shared().setString("displayChoice", c.choice);
        else Settings::shared().remove("displayChoice");
        screens.setCursorPos(c.cursor);
        build();
        EXPECT_EQ(model->screenFrame(), c.expected);
        EXPECT_EQ(panel->pos(), QPoint(c.expected.x() + (c.expected.width() - 724) / 2, c.expected.y()));
        EXPECT_EQ(centreX(panel->geometry()), centreX(c.expected));
        EXPECT_EQ(centreX(model->openHotRect()), centreX(c.expected));
        EXPECT_EQ(model->openHotRect().top(), c.expected.top());
    }
}

TEST_F(PanelTest, NotchScreenWinsWhenOneExists) {
    screens.setScreens({kLeft, ScreenInfo{"notch", QRect(1920, 0, 1512, 982), false, true}});
    build();
    EXPECT_EQ(model->screenFrame().x(), 1920);
    Settings::shared().setString("displayChoice", "main");
    EXPECT_EQ(model->screenFrame(), kLeft.frame);
}

TEST_F(PanelTest, ReplacedWhenTheSettingOrTheScreensChange) {
    build();
    EXPECT_EQ(model->screenFrame(), kLeft.frame);
    screens.setCursorPos(QPoint(2500, 300));
    Settings::shared().setString("displayChoice", "mouse");
    EXPECT_EQ(model->screenFrame(), kRight.frame);

    // The pointer wanders back: the notch follows within the follow interval.
    screens.setCursorPos(QPoint(50, 50));
    clock.advance(1.0);
    EXPECT_EQ(model->screenFrame(), kLeft.frame);

    // The right screen goes away and the primary one changes size.
    screens.setCursorPos(QPoint(2500, 300));
    screens.setScreens({ScreenInfo{"left", QRect(0, 0, 2560, 1440), true, false}});
    EXPECT_EQ(panel->pos(), QPoint((2560 - 724) / 2, 0));
}

TEST_F(PanelTest, ClosedShapeIsThePillOpenShapeThePanel) {
    build();
    const QRect pill = panel->shape().boundingRect();
    EXPECT_EQ(pill.width(), model->collapsedWidth());
    EXPECT_EQ(pill.height(), model->notchSize().height());
    EXPECT_EQ(pill.top(), 0);
    EXPECT_EQ(pill.x() + pill.width() / 2, 724 / 2);
    // Input passes through beside the pill.
    EXPECT_FALSE(panel->shape().contains(QPoint(5, 5)));
    EXPECT_FALSE(panel->shape().contains(QPoint(362, pill.height() + 4)));

    model->open(Tab::home);
    QRect open = panel->shape().boundingRect();
    EXPECT_EQ(open, QRect(0, 0, 724, 284));
    EXPECT_TRUE(panel->shape().contains(QPoint(0, 0)));        // square top corners
    EXPECT_TRUE(panel->shape().contains(QPoint(723, 0)));
    EXPECT_FALSE(panel->shape().contains(QPoint(0, 283)));     // rounded lower corners
    EXPECT_FALSE(panel->shape().contains(QPoint(723, 283)));
    EXPECT_TRUE(panel->shape().contains(QPoint(362, 283)));

    model->setShowUsageRow(true);
    EXPECT_EQ(panel->shape().boundingRect(), QRect(0, 0, 724, 306));

    model->close();
    EXPECT_EQ(panel->shape().boundingRect(), pill);
}

TEST_F(PanelTest, PillOnlyWhileActiveLeavesAHoverStrip) {
    Settings::shared().setString("pillMode", "activity");
    build();
    const QRect strip = panel->shape().boundingRect();
    EXPECT_EQ(strip.width(), model->collapsedWidth());
    EXPECT_LE(strip.height(), 4);
    EXPECT_FALSE(panel->root()->isPillVisible());

    model->setLive(NotchModel::Live::media);
    EXPECT_EQ(panel->shape().boundingRect().height(), model->notchSize().height());
    EXPECT_TRUE(panel->root()->isPillVisible());

    Settings::shared().setString("pillMode", "always");
    model->setLive(NotchModel::Live::none);
    EXPECT_EQ(panel->shape().boundingRect().height(), model->notchSize().height());
}

TEST_F(PanelTest, HiddenPillLeavesNothingVisibleOnItsHoverStrip) {
    Settings::shared().setString("pillMode", "activity");
    build();
    auto alphaRange = [&](const QRect& area) {
        const QImage img = panel->grab(area).toImage().convertToFormat(QImage::Format_ARGB32);
        int lo = 255, hi = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x) {
                lo = std::min(lo, qAlpha(img.pixel(x, y)));
                hi = std::max(hi, qAlpha(img.pixel(x, y)));
            }
        return std::pair{lo, hi};
    };
    const QRect strip = panel->shape().boundingRect();
    EXPECT_EQ(alphaRange(strip).second, 0) << "the pill is invisible until something is active";

    model->setLive(NotchModel::Live::timer);
    const QRect pill = panel->shape().boundingRect();
    const auto shown = alphaRange(QRect(pill.center().x() - 20, 4, 40, 10));
    EXPECT_EQ(shown.first, 255);
    EXPECT_EQ(QColor(panel->grab(pill).toImage().pixel(pill.width() / 2, 2)), QColor(Qt::black));

    model->setLive(NotchModel::Live::none);
    model->open(Tab::home);
    EXPECT_EQ(alphaRange(QRect(300, 150, 100, 40)).first, 255) << "the open panel is solid black";
    // A page that fills its own background does so in the notch's black.
    EXPECT_EQ(panel->root()->palette().color(QPalette::Window), QColor(Qt::black));
}

TEST_F(PanelTest, EscapeAndOutsideClicksClose) {
    build();
    panel->show();
    model->open(Tab::tasks);
    QTest::keyClick(panel.get(), Qt::Key_Escape);
    EXPECT_FALSE(model->isOpen());

    model->open(Tab::tasks);
    EXPECT_TRUE(clicks.isWatching());
    const QRect hot = model->openHotRect();
    clicks.press(hot.center());
    EXPECT_TRUE(model->isOpen());
    clicks.press(QPoint(hot.left() + 5, hot.bottom() + 20));
    EXPECT_FALSE(model->isOpen());
}

TEST_F(PanelTest, MakingKeyKeepsTheFocusedViewAndEscStillCloses) {
    build();
    auto* field = new QLineEdit;
    panel->root()->pages()->setPage(Tab::note, field);
    panel->show();
    model->open(Tab::note);
    panel->makeKey();
    EXPECT_EQ(panel->focusWidget(), panel.get()) << "nothing focused inside: the panel takes the keys";
    field->setFocus();
    // Opened again (hot key, debug command): typing goes on in the field.
    panel->makeKey();
    EXPECT_EQ(panel->focusWidget(), field);
    QTest::keyClick(field, Qt::Key_Escape);
    EXPECT_FALSE(model->isOpen());
}

TEST_F(PanelTest, HoveringThePillOpensAfterTheDelayAndLeavingCloses) {
    Settings::shared().setDouble("hoverDelay", 0.3);
    build();
    QEvent leave(QEvent::Leave);
    QEnterEvent enter(QPointF(362, 10), QPointF(362, 10), QPointF(960, 10));
    QCoreApplication::sendEvent(panel.get(), &enter);
    clock.advance(0.2);
    EXPECT_FALSE(model->isOpen());
    clock.advance(0.15);
    EXPECT_TRUE(model->isOpen());
    screens.setCursorPos(QPoint(960, 900));
    QCoreApplication::sendEvent(panel.get(), &leave);
    clock.advance(0.5);
    EXPECT_FALSE(model->isOpen());
}

TEST_F(PanelTest, AFileDragOverTheNotchCountsAsHoverAndAGrabIsNoLeave) {
    Settings::shared().setDouble("hoverDelay", 0.3);
    build();
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile("/tmp/a.txt")});
    QDragEnterEvent enter(QPoint(362, 10), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(panel.get(), &enter);
    clock.advance(0.35);
    ASSERT_TRUE(model->isOpen());

    // A drag starting inside grabs the pointer: Qt sends a leave though the pointer is over the notch.
    screens.setCursorPos(panel->geometry().center());
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(panel.get(), &leave);
    clock.advance(0.5);
    EXPECT_TRUE(model->isOpen());

    screens.setCursorPos(QPoint(960, 900));
    QDragLeaveEvent dragLeave;
    QCoreApplication::sendEvent(panel.get(), &dragLeave);
    clock.advance(0.5);
    EXPECT_FALSE(model->isOpen());
}

TEST_F(PanelTest, SnapshotIsAPngOfTheCurrentShape) {
    build();
    model->open(Tab::home);
    QImage img = QImage::fromData(panel->snapshotPng(), "PNG");
    ASSERT_FALSE(img.isNull());
    EXPECT_EQ(img.width() / img.devicePixelRatio(), 724);
    EXPECT_EQ(QColor(img.pixel(img.width() / 2, img.height() - 3)), QColor(Qt::black));
    EXPECT_EQ(qAlpha(img.pixel(0, img.height() - 1)), 0); // outside the rounded corner
}

// A file dragged onto the closed pill is meant for the shelf: the notch opens there, and a
// drag resting on a tab switches to it (a drag delivers no enter events to the tab).
TEST_F(PanelTest, AFileDragOpensTheShelfAndRestingOnATabSwitches) {
    Settings::shared().setDouble("hoverDelay", 0.1);
    build();
    model->open(Tab::note);
    model->close();
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile("/tmp/a.txt")});
    screens.setCursorPos(QPoint(centreX(kLeft.frame), 10));
    QDragEnterEvent enter(QPoint(362, 10), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(panel.get(), &enter);
    clock.advance(0.15);
    ASSERT_TRUE(model->isOpen());
    EXPECT_EQ(model->tab(), Tab::shelf);

    auto* transit = panel->findChild<QWidget*>("tab.transit");
    ASSERT_NE(transit, nullptr);
    QDragEnterEvent overTab(QPoint(5, 5), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(transit, &overTab);
    clock.advance(0.2);
    EXPECT_EQ(model->tab(), Tab::transit);
}

// Without a compositor nothing of the hidden pill is drawn (its strip showed as a black bar);
// the pointer resting on the strip still opens the notch, and leaving it before the delay does not.
TEST_F(PanelTest, WithoutACompositorTheHiddenPillDrawsNothingAndStillOpensOnHover) {
    Settings::shared().setString("pillMode", "activity");
    Settings::shared().setDouble("hoverDelay", 0.2);
    build();
    const QRect strip = panel->shape().boundingRect();
    ASSERT_TRUE(strip.isValid());
    EXPECT_LE(strip.height(), 4);
    EXPECT_TRUE(panel->drawnShape().isEmpty());

    const QPoint onStrip = strip.center() + panel->pos();
    screens.setCursorPos(onStrip);
    clock.advance(0.1);
    screens.setCursorPos(QPoint(100, 500)); // away before the delay
    clock.advance(0.5);
    EXPECT_FALSE(model->isOpen());
    screens.setCursorPos(onStrip);
    clock.advance(0.1);
    clock.advance(0.3);
    EXPECT_TRUE(model->isOpen());
    EXPECT_FALSE(panel->drawnShape().isEmpty()) << "the open notch is drawn";

    model->close();
    model->setLive(NotchModel::Live::agent);
    EXPECT_EQ(panel->drawnShape(), panel->shape()) << "an active pill is drawn whole";
}
