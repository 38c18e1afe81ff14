#include "TestEnv.h"
#include "agents/AgentSwitch.h"
#include "core/Clock.h"
#include "core/L10n.h"
#include "core/Settings.h"
#include "feeds/UsageMonitor.h"
#include "settings/SetupModel.h"
#include "settings/SetupWizard.h"
#include "settings/blocks/Blocks.h"
#include "settings/blocks/Controls.h"
#include "settings/pages/LimitsPage.h"
#include "settings/blocks/Style.h"
#include "FakeClock.h"
#include "FakeTerminal.h"
#include "platform/Terminal.h"
#include <QFile>
#include <QProcess>
#include <QAccessible>
#include <QApplication>
#include <QTest>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>

using namespace lomex;

namespace {

TEST(LimitsPageRules, LeftTintAndWindowName) {
    QWidget w;
    const struct {
        double used;
        int left;
        style::Named tint;
    } rows[] = {{90, 10, style::Named::red}, {89.9, 10, style::Named::orange}, {70, 30, style::Named::orange},
                {69.9, 30, style::Named::green}, {100, 0, style::Named::red}, {120, 0, style::Named::red},
                {33.5, 67, style::Named::green}, {0.4, 100, style::Named::green}};
    for (const auto& r : rows) {
        EXPECT_EQ(LimitsPage::wholeLeft(r.used), r.left) << r.used;
        EXPECT_EQ(LimitsPage::tint(r.used, &w), style::named(r.tint, &w)) << r.used;
    }
    EXPECT_EQ(LimitsPage::windowNameKey("5h"), "limits.5h");
    EXPECT_EQ(LimitsPage::windowNameKey("7d"), "limits.7d");
    EXPECT_EQ(LimitsPage::windowNameKey("1h"), "limits.7d");
    const QDateTime monday(QDate(2026, 12, 7), QTime(14, 5));
    EXPECT_EQ(LimitsPage::resetText(monday, true), "pondělí 14:05");
    EXPECT_TRUE(LimitsPage::resetText(monday, false).startsWith("Monday 2:05")) << LimitsPage::resetText(monday, false).toStdString();
}

class LimitsAndWizardTest : public test::LomexTest {
protected:
    void SetUp() override {
        qputenv("PATH", home.file("bin").toUtf8());
        services.usage = &usage;
        services.setup = &setup;
        services.agentSwitch = &sw;
    }
    FakeClock clock;
    UsageMonitor usage{&clock};
    SetupModel setup{&usage, &clock};
    AgentSwitch sw;
    Services services;
};

TEST_F(LimitsAndWizardTest, AFailedSwitchShowsItsErrorAndASuccessClearsIt) {
    home.write(".claude/settings.json", "[]");
    LimitsPage page(services);
    page.watchSwitch()->click();
    ASSERT_TRUE(test::waitUntil([&] { return page.agentError().has_value(); }));
    auto* error = page.findChild<QLabel*>("agentError");
    EXPECT_TRUE(error->text().endsWith(" is not a JSON object – please check it manually."));
    EXPECT_FALSE(error->isHidden());
    EXPECT_FALSE(page.watchSwitch()->isChecked()); // springs back
    home.write(".claude/settings.json", "{}");
    page.setAgents(true);
    EXPECT_FALSE(page.agentError());
    EXPECT_TRUE(error->isHidden());
    EXPECT_TRUE(page.watchSwitch()->isChecked());
    // On, but no server listens here: the page says why instead of showing "connected".
    sw.setServerState(false, QStringLiteral("Address already in use"));
    EXPECT_FALSE(page.findChild<QLabel*>("serverError")->isHidden());
    EXPECT_FALSE(sw.claudeConnected());
}

// The Claude Code row names the configuration folders as they are at each redraw.
TEST_F(LimitsAndWizardTest, ClaudeFoldersAreReadAtEachRedraw) {
    home.write(".claude/settings.json", "{}");
    Settings::shared().setBool("agentsEnabled", true);
    LimitsPage page(services);
    Row* claude = nullptr;
    for (Row* row : page.findChildren<Row*>())
        if (row->titleLabel()->text() == "Claude Code") claude = row;
    ASSERT_NE(claude, nullptr);
    EXPECT_EQ(claude->detailLabel()->text(), "~/.claude");
    home.write(".claude-work/settings.json", "{}");
    Q_EMIT usage.changed(); // any redraw
    EXPECT_EQ(claude->detailLabel()->text(), "~/.claude, ~/.claude-work");
}

// A failed switch's error is scrolled into view, however far down the page it sits.
TEST_F(LimitsAndWizardTest, AFailedSwitchScrollsItsErrorIntoView) {
    // Switching off with a broken settings file: the rows shown while on push the error down.
    home.write(".claude/settings.json", "[]");
    Settings::shared().setBool("agentsEnabled", true);
    QScrollArea scroll;
    scroll.setWidgetResizable(true);
    auto* page = new LimitsPage(services);
    scroll.setWidget(page);
    scroll.resize(540, 300);
    scroll.show();
    QCoreApplication::processEvents();
    ASSERT_EQ(scroll.verticalScrollBar()->value(), 0);
    page->watchSwitch()->click();
    ASSERT_TRUE(test::waitUntil([&] { return page->agentError().has_value(); }));
    auto* error = page->findChild<QLabel*>("agentError");
    ASSERT_TRUE(test::waitUntil([&] {
        const int top = error->mapTo(scroll.viewport(), QPoint(0, 0)).y();
        return top >= 0 && top + error->height() <= scroll.viewport()->height();
    })) << "error at " << error->mapTo(scroll.viewport(), QPoint(0, 0)).y() << " of " << scroll.viewport()->height();
}

TEST_F(LimitsAndWizardTest, PanelsOnlyWhileUsageIsOnWithTheStatusText) {
    L10n::shared().setLanguage(AppLanguage::en);
    LimitsPage page(services);
    auto* claude = page.findChild<QWidget*>("panel.claude");
    EXPECT_TRUE(claude->parentWidget()->isHidden());
    Settings::shared().setBool("usageEnabled", true);
    EXPECT_FALSE(claude->parentWidget()->isHidden());
    usage.refresh(); // as the page does when shown
    // Inside Settings it does not send the user to Settings: it names the way there.
    EXPECT_TRUE(test::waitUntil([&] {
        for (auto* l : claude->findChildren<QLabel*>())
            if (l->text() == "Claude Code is not installed – set it up in the Setup guide (About page).") return true;
        return false;
    }));
    for (auto* l : page.findChildren<QLabel*>()) EXPECT_NE(l->text(), "connect in Settings");
}

// The installer fails in the terminal: the card stops waiting for the browser, says so and
// offers the step again; pressing it starts afresh.
TEST_F(LimitsAndWizardTest, AFailedSetupInTheTerminalShowsOnTheCardWithTheWayToRetry) {
    qputenv("PATH", (home.file("bin") + ":/usr/bin:/bin").toUtf8());
    const QString curl = home.write("bin/curl", "#!/bin/sh\nexit 7\n"); // offline: the download fails
    QFile::setPermissions(curl, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    FakeTerminal terminal;
    Terminal::setCurrent(&terminal);
    for (AppLanguage language : {AppLanguage::en, AppLanguage::cs}) {
        L10n::shared().setLanguage(language);
        SetupWizardView wizard(services);
        wizard.cards()[3]->button()->click();
        ASSERT_TRUE(setup.claudeBusy());
        EXPECT_EQ(wizard.cards()[3]->text(), L10n::shared().t("setup.claude.busy"));
        // What the terminal would do with the script written for it.
        QProcess run;
        run.start("bash", {SetupModel::scriptPath()});
        run.closeWriteChannel();
        ASSERT_TRUE(run.waitForFinished());
        EXPECT_EQ(run.exitCode(), 1);
        clock.advance(SetupModel::pollSeconds); // the wizard's poll
        setup.refresh();
        EXPECT_FALSE(setup.claudeBusy());
        EXPECT_TRUE(setup.claudeFailed());
        const QString button = L10n::shared().t("setup.claude.install");
        EXPECT_EQ(wizard.cards()[3]->text(), L10n::shared().t("setup.claude.failed", {button}));
        EXPECT_TRUE(wizard.cards()[3]->text().contains(button));
        EXPECT_TRUE(wizard.cards()[3]->button()->isVisibleTo(&wizard));
        EXPECT_EQ(wizard.cards()[3]->button()->text(), button);
        wizard.cards()[3]->button()->click(); // again
        EXPECT_TRUE(setup.claudeBusy());
        EXPECT_FALSE(setup.claudeFailed());
        EXPECT_FALSE(QFile::exists(SetupModel::failureMarkPath()));
    }
    Terminal::setCurrent(nullptr);
}

// The panels are drawn anew on each change of the monitor; the reload button keeps the focus.
TEST_F(LimitsAndWizardTest, ReloadKeepsTheKeyboardFocusWhenThePanelIsRedrawn) {
    Settings::shared().setBool("usageEnabled", true);
    LimitsPage page(services);
    page.show();
    page.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&page));
    auto* claude = page.findChild<QWidget*>("panel.claude");
    claude->findChild<QWidget*>("reload")->setFocus(Qt::TabFocusReason);
    Q_EMIT usage.changed();
    QCoreApplication::processEvents(); // the new button comes on screen
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_TRUE(QApplication::focusWidget());
    EXPECT_EQ(QApplication::focusWidget(), claude->findChild<QWidget*>("reload"));
}

TEST_F(LimitsAndWizardTest, WizardCardsAndFooterFollowTheModel) {
    L10n::shared().setLanguage(AppLanguage::en);
    bool closed = false;
    SetupWizardView wizard(services);
    wizard.onClose = [&] { closed = true; };
    EXPECT_EQ(wizard.finishButton()->text(), "Finish later");
    EXPECT_EQ(wizard.cards()[3]->button()->text(), "Set up");
    // Without XTEST the paste card says why and offers no button that leads nowhere.
    EXPECT_TRUE(wizard.cards()[1]->button()->isHidden());
    EXPECT_EQ(wizard.cards()[1]->text(), L10n::shared().t("setup.ax.unavailable"));
    EXPECT_EQ(QAccessible::queryAccessibleInterface(wizard.cards()[2]->button())->text(QAccessible::Description),
              wizard.cards()[2]->title());
    setup.calendarAccess = setup.remindersAccess = setup.accessibilityTrusted = [] { return true; };
    setup.refresh();
    EXPECT_EQ(wizard.finishButton()->text(), "Done");
    EXPECT_TRUE(wizard.cards()[0]->showsDone());
    EXPECT_TRUE(wizard.cards()[1]->showsDone());
    EXPECT_EQ(wizard.cards()[1]->text(), L10n::shared().t("setup.ax.text"));
    wizard.show();
    EXPECT_TRUE(setup.isPolling());
    wizard.hide();
    EXPECT_FALSE(setup.isPolling());
    L10n::shared().setLanguage(AppLanguage::cs);
    EXPECT_EQ(wizard.finishButton()->text(), "Hotovo");
    wizard.finishButton()->click();
    EXPECT_TRUE(closed);
}

// The footer names the way back to the wizard that exists here: the tray menu, else the
// settings window behind the notch's gear.
TEST_F(LimitsAndWizardTest, FooterPointsToTheMenuOnlyWhereThereIsOne) {
    const struct {
        AppLanguage language;
        bool menu;
        const char* expected;
    } cases[] = {
        {AppLanguage::en, true, "You can change everything anytime: Lomex menu → Setup guide."},
        {AppLanguage::en, false, "You can change everything anytime: Settings (the gear in the open notch) → Setup guide."},
        {AppLanguage::cs, true, "Vše jde kdykoli změnit v menu Lomexu → Průvodce nastavením."},
        {AppLanguage::cs, false, "Vše jde kdykoli změnit v Nastavení (ozubené kolečko v otevřeném výřezu) → Průvodce nastavením."},
    };
    SetupWizardView wizard(services);
    for (const auto& c : cases) {
        wizard.menuAvailable = [&] { return c.menu; };
        // A language switch redraws every text.
        L10n::shared().setLanguage(c.language == AppLanguage::en ? AppLanguage::cs : AppLanguage::en);
        L10n::shared().setLanguage(c.language);
        bool found = false;
        for (QLabel* label : wizard.findChildren<QLabel*>()) found = found || label->text() == QString::fromUtf8(c.expected);
        EXPECT_TRUE(found) << c.expected;
    }
}

// On a screen too low for the whole page the window takes the room there is and scrolls.
TEST_F(LimitsAndWizardTest, WizardFitsTheRoomAndScrolls) {
    L10n::shared().setLanguage(AppLanguage::cs);
    SetupWizardView wizard(services);
    const QSize full = wizard.sizeHint();
    EXPECT_EQ(full.width(), SetupWizardView::width);
    EXPECT_EQ(wizard.sizeWithin(QSize(1920, 1080)), full);
    const QSize small = wizard.sizeWithin(QSize(960, 520));
    EXPECT_EQ(small.height(), 520);
    EXPECT_EQ(small.width(), full.width()) << "the page keeps its width";
    wizard.setFixedSize(small);
    wizard.show();
    QCoreApplication::processEvents();
    auto* scroll = wizard.findChild<QScrollArea*>();
    ASSERT_TRUE(scroll);
    // The thin bar, over the page's right margin; the page is not narrowed.
    auto* bar = scroll->findChild<QScrollBar*>(QStringLiteral("thinScrollBar"));
    ASSERT_TRUE(bar);
    EXPECT_TRUE(bar->isVisible());
    EXPECT_GE(bar->x(), SetupWizardView::width - 24);
    EXPECT_EQ(scroll->widget()->width(), SetupWizardView::width);
    EXPECT_FALSE(scroll->horizontalScrollBar()->isVisible());
    // The footer button is reachable by scrolling.
    scroll->ensureWidgetVisible(wizard.finishButton());
    const QPoint at = wizard.finishButton()->mapTo(&wizard, QPoint(0, wizard.finishButton()->height()));
    EXPECT_LE(at.y(), wizard.height());
}

// The "optional" badge sits right after its title's last word, at its own height, when it fits
// there, and under the title when not: the title wraps only where its own words need it.
TEST_F(LimitsAndWizardTest, OptionalBadgeSitsBesideItsTitleAlsoWhenTheTitleWraps) {
    for (AppLanguage language : {AppLanguage::cs, AppLanguage::en}) {
        L10n::shared().setLanguage(language);
        SetupWizardView wizard(services);
        wizard.show();
        QCoreApplication::processEvents();
        for (int index : {2, 3}) {
            auto* title = wizard.cards()[index]->findChild<BadgedTitle*>();
            ASSERT_TRUE(title);
            EXPECT_EQ(title->badge(), L10n::shared().t("setup.optional"));
            BadgedTitle alone;
            alone.setTexts(title->title(), {});
            const int oneLine = alone.sizeHint().width();
            // As laid out, at 150 (wraps), and just wide enough for the title but not the badge.
            for (int width : {title->width(), 150, oneLine + 8}) {
                SCOPED_TRACE(testing::Message() << title->title().toStdString() << " at " << width);
                title->resize(width, title->heightForWidth(width));
                alone.resize(width, alone.heightForWidth(width));
                if (width == 150 && index == 2) {
                    EXPECT_GE(title->lineCount(), 2) << "the title wraps";
                }
                EXPECT_EQ(title->lineCount(), alone.lineCount()) << "wrapped for the badge's sake";
                const QRectF badge = title->badgeRect(), last = title->lastLineRect();
                EXPECT_LT(badge.height(), last.height() * 1.5);
                if (last.right() + 6 + badge.width() <= width) {
                    EXPECT_NEAR(badge.left(), last.right() + 6, 1) << "right after the last word";
                    EXPECT_NEAR(badge.center().y(), last.center().y(), 1);
                } else {
                    EXPECT_EQ(badge.left(), 0) << "under the title";
                    EXPECT_GE(badge.top(), last.bottom());
                }
                EXPECT_LE(badge.right(), width);
                EXPECT_GE(title->height(), int(badge.bottom()));
            }
        }
    }
}

} // namespace
