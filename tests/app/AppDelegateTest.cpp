#include "TestEnv.h"
#include "app/AppDelegate.h"
#include "app/NotchPanel.h"
#include "settings/SettingsNav.h"
#include "app/StatusMenu.h"
#include "core/Clock.h"
#include "core/L10n.h"
#include "core/Settings.h"
#include "notch/LiveActivity.h"
#include "FakeCalendarStore.h"
#include "platform/HotKeys.h"
#include "core/Paths.h"
#include "platform/Screens.h"
#include "FakeClock.h"
#include "FakeScreens.h"
#include "QStringPrint.h"
#include "notch/NotchPageHost.h"
#include "notch/NotchRootView.h"
#include "tabs/NoteView.h"
#include <QPlainTextEdit>
#include <QTest>
#include <QAbstractButton>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <memory>

using namespace lomex;
using Tab = NotchModel::Tab;
using Page = SettingsView::Page;

namespace {

class AppDelegateTest : public test::LomexTest {
protected:
    void SetUp() override {
        screens.setScreens({ScreenInfo{"only", QRect(0, 0, 1920, 1080), true, false}});
    }
    AppDelegate& launch() {
        app = std::make_unique<AppDelegate>(&clock, &screens);
        app->applicationDidFinishLaunching();
        return *app;
    }
    void TearDown() override { app.reset(); }

    FakeClock clock;
    FakeScreens screens;
    std::unique_ptr<AppDelegate> app;
};

} // namespace

TEST_F(AppDelegateTest, LaunchRegistersDefaultsBuildsWindowsAndPublishesItself) {
    EXPECT_FALSE(Settings::shared().valueByName("hoverDelay").has_value());
    launch();
    EXPECT_EQ(AppDelegate::shared(), app.get());
    EXPECT_DOUBLE_EQ(Settings::shared().get(keys::hoverDelay), 0.12);
    EXPECT_FALSE(Settings::shared().isStored(keys::hoverDelay)); // registered, not written
    ASSERT_NE(app->panel(), nullptr);
    EXPECT_TRUE(app->panel()->windowFlags() & Qt::Tool);
    EXPECT_TRUE(app->panel()->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(app->panel()->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(app->panel()->pos(), QPoint((1920 - 724) / 2, 0));
    ASSERT_NE(app->statusMenu(), nullptr);
    EXPECT_TRUE(app->debugServer()->isListening());

    const Services s = app->inject();
    EXPECT_EQ(s.model, app->model());
    EXPECT_EQ(s.settingsNav, app->settingsNav());
    EXPECT_EQ(s.l10n, &L10n::shared());

    app.reset();
    EXPECT_EQ(AppDelegate::shared(), nullptr);
}

TEST_F(AppDelegateTest, SetupWizardOpensAfterADelayUntilOnboardingIsDone) {
    launch();
    clock.advance(0.7);
    EXPECT_EQ(app->setupRequests(), 0);
    clock.advance(0.2);
    EXPECT_EQ(app->setupRequests(), 1);
    clock.advance(10);
    EXPECT_EQ(app->setupRequests(), 1);

    app->finishSetup();
    EXPECT_TRUE(Settings::shared().get(keys::onboardingDone));
    app.reset();
    launch();
    clock.advance(2);
    EXPECT_EQ(app->setupRequests(), 0);
}

TEST_F(AppDelegateTest, HotKeysOnlyWhenEnabledAtLaunch) {
    launch();
    EXPECT_NE(app->hotKeys(), nullptr); // the offscreen platform has none to grab, but tried
    EXPECT_EQ(app->hotKeys()->count(), 0);
    app.reset();
    Settings::shared().set(keys::hotkeysEnabled, false);
    launch();
    EXPECT_EQ(app->hotKeys(), nullptr);
}

TEST_F(AppDelegateTest, OpenSettingsWritesTheNavigationAndClosesTheNotch) {
    launch();
    SettingsNav* nav = app->settingsNav();
    EXPECT_EQ(nav->page(), Page::general);
    app->model()->open(Tab::agents);
    app->openSettings(Page::limits, QStringLiteral("agents"));
    EXPECT_EQ(nav->page(), Page::limits);
    EXPECT_EQ(nav->scrollTarget(), QStringLiteral("agents"));
    EXPECT_FALSE(app->model()->isOpen());

    // No page keeps the page shown last; no id clears the target.
    app->openSettings();
    EXPECT_EQ(nav->page(), Page::limits);
    EXPECT_FALSE(nav->scrollTarget().has_value());
    EXPECT_EQ(app->settingsRequests(), 2);
}

TEST_F(AppDelegateTest, DebugCommands) {
    launch();
    auto run = [&](const char* c) { return app->handleDebugCommand(QString::fromUtf8(c)); };

    EXPECT_TRUE(run("transit").ok);
    EXPECT_TRUE(app->model()->isOpen());
    EXPECT_EQ(app->model()->tab(), Tab::transit);
    EXPECT_TRUE(run("close").ok);
    EXPECT_FALSE(app->model()->isOpen());

    EXPECT_TRUE(run("settings:shortcuts").ok);
    EXPECT_EQ(app->settingsNav()->page(), Page::shortcuts);
    EXPECT_TRUE(run("settings:x:about").ok); // the text after the last colon
    EXPECT_EQ(app->settingsNav()->page(), Page::about);
    EXPECT_TRUE(run("settings:nonsense").ok);
    EXPECT_EQ(app->settingsNav()->page(), Page::general);
    run("settings:limits");
    EXPECT_TRUE(run("settings").ok);
    EXPECT_EQ(app->settingsNav()->page(), Page::general);
    EXPECT_FALSE(app->settingsNav()->scrollTarget().has_value());

    EXPECT_TRUE(run("stop:Anděl").ok);
    EXPECT_EQ(app->settingsNav()->page(), Page::places);
    EXPECT_EQ(app->settingsNav()->scrollTarget(), QStringLiteral("pid"));

    const int setups = app->setupRequests();
    EXPECT_TRUE(run("setup").ok);
    EXPECT_EQ(app->setupRequests(), setups + 1);
    EXPECT_FALSE(run("palette").ok); // not in this version

    // Sample notices, one of each kind.
    EXPECT_TRUE(run("notice:low").ok);
    EXPECT_EQ(app->model()->notice()->kind, Notice::Kind::lowBattery);
    EXPECT_TRUE(run("notice:headphones").ok);
    EXPECT_EQ(app->model()->notice()->batteries.size(), 3);
    EXPECT_TRUE(run("notice").ok);
    EXPECT_EQ(app->model()->notice()->kind, Notice::Kind::charging);
    EXPECT_TRUE(run("notice:charging").ok);
    // A misspelt kind is refused rather than shown as some other notice.
    app->model()->show(Notice::lowBattery(5));
    const auto typo = run("notice:typo");
    EXPECT_FALSE(typo.ok);
    EXPECT_TRUE(typo.text.contains("typo"));
    EXPECT_EQ(app->model()->notice()->kind, Notice::Kind::lowBattery);

    // The settings window is made once, shown and titled in the current language.
    run("settings:notch");
    ASSERT_NE(app->settingsWindow(), nullptr);
    SettingsView* window = app->settingsWindow();
    EXPECT_TRUE(window->isVisible());
    window->close();
    run("settings");
    EXPECT_EQ(app->settingsWindow(), window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), L10n::shared().t("settings.title"));

    auto bad = run("Home");
    EXPECT_FALSE(bad.ok);
    EXPECT_TRUE(bad.text.contains("unknown"));
    EXPECT_FALSE(run("").ok);
}

TEST_F(AppDelegateTest, SnapWritesAPngIntoTheDataFolder) {
    launch();
    app->handleDebugCommand("agents");
    auto reply = app->handleDebugCommand("snap");
    ASSERT_TRUE(reply.ok) << reply.text.toStdString();
    EXPECT_TRUE(reply.text.startsWith(paths::dataDir() + "/"));
    EXPECT_TRUE(reply.text.endsWith(".png"));
    QImage img(reply.text);
    ASSERT_FALSE(img.isNull());
    EXPECT_EQ(int(img.width() / img.devicePixelRatio()), 724);
    EXPECT_EQ(QFileInfo(reply.text).permissions() & (QFileDevice::ReadOther | QFileDevice::ReadGroup), 0);
}

TEST_F(AppDelegateTest, SnapKeepsOnlyTheLastFew) {
    launch();
    // Files of ours that only look alike stay.
    const QString dir = paths::dataDir();
    home.write(dir.mid(home.path().size() + 1) + "/snap-notes.png", "mine");
    QStringList written;
    for (int i = 0; i < AppDelegate::snapsKept + 3; ++i) {
        auto reply = app->handleDebugCommand("snap");
        ASSERT_TRUE(reply.ok) << reply.text.toStdString();
        written << reply.text;
        clock.advance(1);
    }
    QStringList left;
    for (const QString& name : QDir(dir).entryList({"snap-*.png"}, QDir::Files, QDir::Name)) left << dir + "/" + name;
    QStringList expected = written.mid(3);
    expected.prepend(dir + "/snap-notes.png");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(left, expected);
}

// The clock going back (a DST fall-back night, a corrected clock) changes nothing: every path
// printed is there, and the newest snapshots are the ones kept.
TEST_F(AppDelegateTest, SnapsKeepTheirOrderWhenTheClockGoesBack) {
    launch();
    const QString dir = paths::dataDir();
    QStringList written;
    for (int i = 0; i < AppDelegate::snapsKept + 3; ++i) {
        auto reply = app->handleDebugCommand("snap");
        ASSERT_TRUE(reply.ok) << reply.text.toStdString();
        EXPECT_TRUE(QFileInfo::exists(reply.text)) << i << " " << reply.text.toStdString();
        EXPECT_FALSE(written.contains(reply.text));
        written << reply.text;
        clock.set(clock.now().addSecs(i % 2 ? -3600 : 10));
    }
    QStringList left;
    for (const QString& name : QDir(dir).entryList({"snap-*.png"}, QDir::Files)) left << dir + "/" + name;
    std::sort(left.begin(), left.end());
    QStringList expected = written.mid(written.size() - AppDelegate::snapsKept);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(left, expected);
}

TEST_F(AppDelegateTest, SettingsObserversAct) {
    launch();
    EXPECT_FALSE(app->model()->showUsageRow());
    Settings::shared().set(keys::usageEnabled, true);
    EXPECT_TRUE(app->model()->showUsageRow());
    EXPECT_EQ(app->model()->openHotRect().height(), 306);
}

TEST_F(AppDelegateTest, StatusMenuFollowsTheLanguageAndRoutesItsEntries) {
    launch();
    StatusMenu* menu = app->statusMenu();
    // No "Command palette" entry while there is no palette to open.
    EXPECT_EQ(menu->entryTexts(), (QStringList{"Settings…", "Setup guide…", "Quit Lomex"}));
    L10n::shared().setLanguage(AppLanguage::cs);
    EXPECT_EQ(menu->entryTexts(),
              (QStringList{QString::fromUtf8("Nastavení…"), QString::fromUtf8("Průvodce nastavením…"), QString::fromUtf8("Ukončit Lomex")}));

    menu->trigger(0);
    EXPECT_EQ(app->settingsRequests(), 1);
    menu->trigger(1);
    EXPECT_EQ(app->setupRequests(), 1);
    // An entry is shown for a palette once one can be opened.
    menu->onPalette = [] {};
    menu->rebuild();
    EXPECT_EQ(menu->entryTexts().size(), 4);
}

// The soon event of the calendar is the meeting of the live activity: on while an event starts
// within "meetingLead" minutes, off again once it has been running for five.
TEST_F(AppDelegateTest, SoonEventShowsAsTheMeetingOnThePill) {
    FakeCalendarStore store;
    store.eventCalendars = {CalendarInfo{"work", "Work", "#ff0000", true}};
    const QDateTime start = clock.now().addSecs(20 * 60);
    store.allEvents = {CalendarEvent{"m", "work", "Standup", start, start.addSecs(1800)}};
    CalendarStore::setCurrent(&store);
    launch();
    EXPECT_FALSE(app->liveActivity()->inputs().meeting) << "twenty minutes ahead, the lead is ten";
    clock.advance(11 * 60); // the service refreshes every 30 s
    EXPECT_TRUE(app->liveActivity()->inputs().meeting);
    EXPECT_EQ(app->model()->live(), NotchModel::Live::meeting);
    clock.advance(15 * 60);
    EXPECT_FALSE(app->liveActivity()->inputs().meeting);
    EXPECT_NE(app->model()->live(), NotchModel::Live::meeting);
    app.reset();
    CalendarStore::setCurrent(nullptr);
}

// What is typed into the note is stored when the notch closes and when the app quits (the
// tray's quit item and a quit signal end the same way), without waiting for a pause.
TEST_F(AppDelegateTest, TheNoteIsStoredWhenTheNotchClosesAndOnQuit) {
    launch();
    auto* note = qobject_cast<NoteView*>(app->panel()->root()->pages()->page(Tab::note));
    ASSERT_TRUE(note);
    const std::vector<std::pair<const char*, std::function<void()>>> ends = {
        {"notch closes", [&] { app->model()->close(); }},
        {"quit", [&] { app->quit(); }},
    };
    QString typed;
    for (const auto& [how, end] : ends) {
        SCOPED_TRACE(how);
        app->model()->open(Tab::note);
        QTest::keyClicks(note->editor(), how);
        typed += how;
        end();
        EXPECT_EQ(Settings::shared().get(keys::note), typed);
    }
}

// `lomex --show note` hands the note the keys with the cursor where the user left it, else at
// the end of the note, so typing goes on from there instead of before what is written.
TEST_F(AppDelegateTest, ShowingTheNotePutsTheCursorWhereItWasLeftElseAtTheEnd) {
    const QString stored = "shopping\nmilk";
    Settings::shared().set(keys::note, stored);
    launch();
    auto* note = qobject_cast<NoteView*>(app->panel()->root()->pages()->page(Tab::note));
    ASSERT_TRUE(note);
    QPlainTextEdit* editor = note->editor();
    ASSERT_TRUE(app->handleDebugCommand("note").ok);
    EXPECT_EQ(editor->textCursor().position(), stored.size()) << "never typed into: at the end";
    QTest::keyClicks(editor, ", eggs");
    EXPECT_EQ(editor->toPlainText(), stored + ", eggs");

    QTextCursor cursor = editor->textCursor();
    cursor.setPosition(8);
    editor->setTextCursor(cursor);
    app->model()->close();
    ASSERT_TRUE(app->handleDebugCommand("note").ok);
    EXPECT_EQ(editor->textCursor().position(), 8) << "where the user left it";
    app->model()->close();

    Settings::shared().set(keys::note, "written elsewhere");
    ASSERT_TRUE(app->handleDebugCommand("note").ok);
    EXPECT_EQ(editor->textCursor().position(), QString("written elsewhere").size()) << "a new text: at its end";
}

// The notch offers only what this version has: no tab without a page in the bar, the first
// opening lands on a tab with one, and asking for a missing view says so instead of showing
// an empty page.
TEST_F(AppDelegateTest, TheNotchShowsOnlyTabsWithAPage) {
    Settings::shared().set(keys::tabOrder, QStringList{"home", "clipboard", "note"});
    launch();
    QStringList bar;
    for (auto* b : app->panel()->findChildren<QAbstractButton*>())
        if (b->objectName().startsWith("tab.")) bar << b->objectName();
    EXPECT_EQ(bar, (QStringList{"tab.note", "tab.agents", "tab.transit", "tab.shelf"}));
    Settings::shared().set(keys::hoverDelay, 0);
    app->model()->hoverNotch(true);
    EXPECT_EQ(app->model()->tab(), Tab::note);
    app->model()->close();

    for (const char* missing : {"home", "tasks", "clipboard", "timer", "palette"}) {
        SCOPED_TRACE(missing);
        const auto reply = app->handleDebugCommand(QString::fromLatin1(missing));
        EXPECT_FALSE(reply.ok);
        EXPECT_TRUE(reply.text.contains("not in this version")) << reply.text.toStdString();
        EXPECT_FALSE(app->model()->isOpen());
    }
    EXPECT_EQ(Settings::shared().find(keys::tabOrder), (QStringList{"home", "clipboard", "note"}));
}
