#include "TestEnv.h"
#include "X11Desktop.h"
#include "agents/ApprovalCenter.h"
#include "agents/SessionStore.h"
#include "agents/views/ChatView.h"
#include "app/AppDelegate.h"
#include "app/NotchPanel.h"
#include "core/Clock.h"
#include "core/L10n.h"
#include "core/Settings.h"
#include "core/Paths.h"
#include "platform/Terminal.h"
#include "notch/NotchTabBar.h"
#include "settings/SetupWizard.h"
#include "tabs/NoteView.h"
#include "FakeTerminal.h"
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <map>
#include <memory>

using namespace lomex;

namespace {

// Lets Qt run for a while (real time: the window manager and the X server take part).
void settle(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
}

// Whether a child of the process runs the program (by its /proc name).
bool childRuns(const QString& parent, const QByteArray& program) {
    for (const QString& entry : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat("/proc/" + entry + "/stat");
        if (!stat.open(QIODevice::ReadOnly)) continue;
        // pid (comm) state ppid ...
        const QByteArray line = stat.readAll();
        const int open = line.indexOf('('), close = line.lastIndexOf(')');
        if (open < 0 || close < open) continue;
        const QList<QByteArray> rest = line.mid(close + 2).split(' ');
        if (rest.size() > 1 && rest[1] == parent.toUtf8() && line.mid(open + 1, close - open - 1) == program) return true;
    }
    return false;
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class DesktopFocusTest : public test::LomexTest {
protected:
    void SetUp() override {
        desktop = test::X11Desktop::current();
        if (!desktop) GTEST_SKIP() << "no private X server with openbox (Xvfb and openbox are in scripts/bootstrap)";
        Terminal::setCurrent(&terminal);
    }
    void TearDown() override {
        app.reset();
        Terminal::setCurrent(nullptr);
        if (desktop) desktop->stopHelpers();
    }
    AppDelegate& launch() {
        app = std::make_unique<AppDelegate>(Clock::system());
        app->applicationDidFinishLaunching();
        return *app;
    }
    // An xterm whose shell copies what is typed into the file out; returns its window once it
    // has the focus.
    quint64 startTerminal(const QString& out) {
        const quint64 xterm = desktop->startXterm(
            {"-geometry", "80x24+40+300", "-e", "sh", "-c", QString("stty -icanon; exec cat >> '%1'").arg(out)});
        if (!xterm) return 0;
        // Keys typed before cat runs would wait for a line end in the terminal's line buffer.
        const QString pid = desktop->run("xprop", {"-id", QString::number(xterm), "_NET_WM_PID"}).section(' ', -1).trimmed();
        if (!test::waitUntil([&] { return childRuns(pid, "cat"); }, 5000)) return 0;
        // A terminal that has just started may act on the window manager's focus message only
        // after the panel took the keyboard, and take it back. It handles its events in order:
        // once a key typed now reaches the file, that message is behind it.
        desktop->run("xdotool", {"type", "."});
        if (!test::waitUntil([&] { return readAll(out) == "."; }, 5000)) return 0;
        QFile::resize(out, 0); // cat appends, so it goes on from the start
        return xterm;
    }
    bool isActive(const QWidget* w) { return desktop->activeWindow() == quint64(w->window()->winId()); }
    // A held permission request of the session, as the hook server hands it in; the notch
    // opens for it. Its answer lands in answers[session].
    void ask(const QString& session) {
        HookEvent ask;
        ask.name = "PermissionRequest";
        ask.sessionID = session;
        ask.toolName = "Bash";
        app->handleAgentEvent(ask);
        app->approvals()->add(ask, [this, session](const std::optional<QString>& t) { answers[session] = t.value_or("none"); });
        HookEvent note;
        note.name = "Notification";
        note.sessionID = session;
        note.message = "Claude needs your permission";
        app->handleAgentEvent(note);
    }
    // The first visible push button of the panel with that text.
    QPushButton* button(const QString& text) {
        QPushButton* found = nullptr;
        test::waitUntil([&] {
            for (QPushButton* b : app->panel()->findChildren<QPushButton*>())
                if (!found && b->text() == text && b->isVisible()) found = b;
            return found != nullptr;
        });
        return found;
    }
    void click(const QWidget* w) {
        const QPoint at = w->mapToGlobal(w->rect().center());
        desktop->run("xdotool", {"mousemove", QString::number(at.x()), QString::number(at.y()), "click", "1"});
    }

    test::X11Desktop* desktop = nullptr;
    FakeTerminal terminal;
    // Outlives app, whose held requests are answered when it goes.
    std::map<QString, std::optional<QString>> answers;
    std::unique_ptr<AppDelegate> app;
};

} // namespace

// Someone types in a terminal while the wizard opens and takes the focus: none of those keys
// may run a card or the footer.
TEST_F(DesktopFocusTest, KeysTypedWhileTheWizardAppearsActOnNothing) {
    const quint64 xterm = startTerminal(home.file("typed"));
    ASSERT_NE(xterm, 0u);
    launch();
    // Space and Return, every 40 ms, from before the wizard appears until shortly after.
    QProcess* typing = desktop->spawn("xdotool", QString("key --delay 40 space Return space space Return space space "
                                                         "Return space space Return space space Return space")
                                                     .split(' '));
    // The wizard appears while the keys flow: the first line has reached the terminal.
    ASSERT_TRUE(test::waitUntil([&] { return !readAll(home.file("typed")).isEmpty(); }, 3000));
    app->openSetup();
    ASSERT_TRUE(test::waitUntil([&] { return typing->state() == QProcess::NotRunning; }, 5000));
    settle(300);

    ASSERT_TRUE(app->setupWindow()->isVisible());
    EXPECT_TRUE(isActive(app->setupWindow()));
    EXPECT_FALSE(QDir(paths::dataDir() + "/calendars").exists());
    EXPECT_FALSE(QDir(paths::dataDir() + "/contacts").exists());
    EXPECT_EQ(app->settingsRequests(), 0);
    EXPECT_TRUE(terminal.opened.isEmpty());
    EXPECT_FALSE(Settings::shared().isStored(keys::onboardingDone));
    // The keyboard rests on the footer button; the cards are reached with Tab or the pointer.
    EXPECT_EQ(QApplication::focusWidget(), app->setupWindow()->finishButton());
}

// Someone keeps typing words in a terminal for seconds while the wizard appears and takes the
// focus: as long as the keys keep coming, none of them acts on it.
TEST_F(DesktopFocusTest, KeysThatKeepComingAfterTheWizardAppearsActOnNothing) {
    const quint64 xterm = startTerminal(home.file("typed"));
    ASSERT_NE(xterm, 0u);
    launch();
    // 'a b ' for about 4.5 s, a key every 40 ms.
    QStringList keys{"key", "--delay", "40"};
    for (int i = 0; i < 28; ++i) keys << "a" << "space" << "b" << "space";
    QProcess* typing = desktop->spawn("xdotool", keys);
    ASSERT_TRUE(test::waitUntil([&] { return !readAll(home.file("typed")).isEmpty(); }, 3000));
    app->openSetup();
    ASSERT_TRUE(test::waitUntil([&] { return isActive(app->setupWindow()); }, 3000));
    QElapsedTimer since;
    since.start();
    ASSERT_TRUE(test::waitUntil([&] { return typing->state() == QProcess::NotRunning; }, 8000));
    ASSERT_GT(since.elapsed(), 2000) << "keys kept coming well after the wizard appeared";
    settle(300);
    EXPECT_TRUE(app->setupWindow()->isVisible());
    EXPECT_FALSE(Settings::shared().isStored(keys::onboardingDone));
    EXPECT_EQ(app->settingsRequests(), 0);
    EXPECT_TRUE(terminal.opened.isEmpty());
}

// Once the wizard has been there a moment, Return or Enter presses the button the user reached
// with Tab, as Space does; with the keyboard on the footer, the footer's.
TEST_F(DesktopFocusTest, ReturnActsOnTheFooter) {
    const struct {
        const char* before; // keys pressed before the key
        const char* key;
        bool footer; // else the last card's button ("Set up"), one step back from the footer
    } cases[] = {
        {"", "Return", true},         {"", "KP_Enter", true},         {"shift+Tab Tab", "Return", true},
        {"shift+Tab", "Return", false}, {"shift+Tab", "KP_Enter", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.before << " " << c.key);
        Settings::shared().remove(keys::onboardingDone);
        terminal.opened.clear();
        app.reset();
        launch();
        app->openSetup();
        SetupWizardView* w = app->setupWindow();
        ASSERT_TRUE(test::waitUntil([&] { return isActive(w) && QApplication::activeWindow() == w; }, 5000));
        settle(1300);
        if (*c.before) desktop->run("xdotool", QString("key --delay 60 %1").arg(c.before).split(' '));
        settle(100);
        ASSERT_EQ(QApplication::focusWidget() == w->finishButton(), c.footer)
            << (QApplication::focusWidget() ? QApplication::focusWidget()->metaObject()->className() : "no focus");
        if (!c.footer) {
            ASSERT_EQ(QApplication::focusWidget(), w->cards().last()->button());
        }
        desktop->run("xdotool", {"key", c.key});
        if (c.footer) {
            EXPECT_TRUE(test::waitUntil([&] { return Settings::shared().get(keys::onboardingDone); }, 3000));
            EXPECT_TRUE(test::waitUntil([&] { return !w->isVisible(); }, 3000));
            EXPECT_TRUE(terminal.opened.isEmpty()) << "Return reached a card";
        } else {
            EXPECT_TRUE(test::waitUntil([&] { return !terminal.opened.isEmpty(); }, 3000)) << "the focused button";
            settle(300);
            EXPECT_TRUE(w->isVisible()) << "the card's button, not the footer";
            EXPECT_FALSE(Settings::shared().isStored(keys::onboardingDone));
            w->close();
        }
    }
}

// Asked for again, a minimised window comes back, in front and with the focus, even after the
// user has worked in another window meanwhile.
TEST_F(DesktopFocusTest, AMinimisedWindowComesBackWhenAskedForAgain) {
    const quint64 xterm = startTerminal(home.file("typed"));
    ASSERT_NE(xterm, 0u);
    Settings::shared().set(keys::onboardingDone, true);
    launch();
    app->openSettings();
    QWidget* w = app->settingsWindow();
    ASSERT_TRUE(test::waitUntil([&] { return isActive(w); }, 5000));
    settle(300);
    desktop->run("xdotool", {"windowminimize", QString::number(w->winId())});
    ASSERT_TRUE(test::waitUntil([&] { return w->isMinimized(); }, 5000));
    desktop->run("xdotool", {"windowactivate", "--sync", QString::number(xterm)});
    desktop->run("xdotool", {"type", "ls"});
    settle(200);
    app->openSettings();
    EXPECT_TRUE(test::waitUntil([&] { return !w->isMinimized() && isActive(w); }, 5000));
}

// A click on Allow in the open panel, then the pointer goes back to the terminal: once the
// panel closes, the terminal has the keyboard again and what is typed reaches it.
TEST_F(DesktopFocusTest, FocusReturnsToTheTerminalAfterAClickInThePanel) {
    const QString typed = home.file("typed");
    const quint64 xterm = startTerminal(typed);
    ASSERT_NE(xterm, 0u);
    Settings::shared().set(keys::onboardingDone, true); // no wizard in the way
    launch();
    ask("s");
    ASSERT_TRUE(app->model()->isOpen());
    QPushButton* allow = button("Allow");
    ASSERT_TRUE(allow);
    settle(300);
    click(allow);
    ASSERT_TRUE(test::waitUntil([&] { return answers["s"].has_value(); }, 5000));
    // The click took nothing from the terminal, even while the panel is still open.
    EXPECT_TRUE(test::waitUntil([&] { return desktop->activeWindow() == xterm; }, 3000));
    desktop->run("xdotool", {"type", "--delay", "20", "hello\n"});
    EXPECT_TRUE(test::waitUntil([&] { return readAll(typed) == "hello\n"; }, 3000)) << readAll(typed).toStdString();
    desktop->run("xdotool", {"mousemove", "400", "500"});
    ASSERT_TRUE(test::waitUntil([&] { return !app->model()->isOpen(); }, 5000));

    // Opened from the keyboard (a hot key), the panel has the keys while open; closed, the
    // terminal has them again.
    app->showNotch(NotchModel::Tab::note);
    ASSERT_TRUE(test::waitUntil([&] { return isActive(app->panel()); }, 3000));
    app->model()->close();
    EXPECT_TRUE(test::waitUntil([&] { return desktop->activeWindow() == xterm; }, 3000));
    desktop->run("xdotool", {"type", "--delay", "20", "again\n"});
    EXPECT_TRUE(test::waitUntil([&] { return readAll(typed) == "hello\nagain\n"; }, 3000)) << readAll(typed).toStdString();
}

// The window follows its content: "Set up" shortens the Claude card and the window with it, a
// switch to Czech lengthens it; no empty band, nothing cut.
TEST_F(DesktopFocusTest, TheWizardWindowFitsItsContentAsItChanges) {
    L10n::shared().setLanguage(AppLanguage::en);
    launch();
    app->openSetup();
    SetupWizardView* w = app->setupWindow();
    ASSERT_TRUE(test::waitUntil([&] { return isActive(w); }, 5000));
    const int before = w->height();
    EXPECT_EQ(w->size(), w->sizeHint());
    w->cards().last()->button()->click();
    ASSERT_FALSE(terminal.opened.isEmpty());
    settle(200);
    EXPECT_LT(w->height(), before);
    EXPECT_EQ(w->size(), w->sizeHint());
    L10n::shared().setLanguage(AppLanguage::cs);
    settle(200);
    EXPECT_EQ(w->size(), w->sizeHint());
    L10n::shared().setLanguage(AppLanguage::en);
}

// Opened by a command and closed with Escape, the panel gives the keyboard back after every
// later click, as a panel never opened that way does.
TEST_F(DesktopFocusTest, AClickAfterAShowCommandGivesTheKeyboardBack) {
    const quint64 xterm = startTerminal(home.file("typed"));
    ASSERT_NE(xterm, 0u);
    Settings::shared().set(keys::onboardingDone, true);
    launch();
    const char* targets[] = {"Allow", "Deny", "tab"};
    for (size_t i = 0; i < std::size(targets); ++i) {
        SCOPED_TRACE(targets[i]);
        ASSERT_TRUE(app->handleDebugCommand("agents").ok);
        ASSERT_TRUE(test::waitUntil([&] { return isActive(app->panel()); }, 3000));
        desktop->run("xdotool", {"key", "Escape"});
        ASSERT_TRUE(test::waitUntil([&] { return desktop->activeWindow() == xterm; }, 3000));
        ASSERT_FALSE(app->model()->isOpen());
        ask(targets[i]);
        ASSERT_TRUE(app->model()->isOpen());
        QWidget* target = nullptr;
        if (i < 2) {
            target = button(targets[i]);
        } else {
            for (NotchTabButton* b : app->panel()->findChildren<NotchTabButton*>())
                if (b->tab() == NotchModel::Tab::transit && b->isVisible()) target = b;
        }
        ASSERT_TRUE(target);
        settle(300);
        QElapsedTimer since;
        click(target);
        since.start();
        for (int at : {300, 1000, 2000}) {
            settle(at - int(since.elapsed()));
            EXPECT_EQ(desktop->activeWindow(), xterm) << "at +" << at << " ms";
        }
        if (i < 2) {
            EXPECT_TRUE(answers[targets[i]].has_value());
        }
        desktop->run("xdotool", {"mousemove", "400", "500"});
        ASSERT_TRUE(test::waitUntil([&] { return !app->model()->isOpen(); }, 5000));
    }
}

// A note opened by a command takes what is typed next, as after a click into it; closed, the
// terminal has the keyboard again.
TEST_F(DesktopFocusTest, ANoteOpenedByACommandTakesTheTyping) {
    const QString typed = home.file("typed");
    const quint64 xterm = startTerminal(typed);
    ASSERT_NE(xterm, 0u);
    Settings::shared().set(keys::onboardingDone, true);
    launch();
    auto* note = app->panel()->findChild<NoteView*>();
    ASSERT_TRUE(note);
    ASSERT_TRUE(app->handleDebugCommand("note").ok);
    ASSERT_TRUE(test::waitUntil([&] { return isActive(app->panel()); }, 3000));
    desktop->run("xdotool", {"type", "--delay", "20", "hello"});
    EXPECT_TRUE(test::waitUntil([&] { return note->editor()->toPlainText() == "hello"; }, 3000))
        << note->editor()->toPlainText().toStdString();
    desktop->run("xdotool", {"key", "Escape"});
    ASSERT_TRUE(test::waitUntil([&] { return !app->model()->isOpen(); }, 3000));
    EXPECT_TRUE(test::waitUntil([&] { return desktop->activeWindow() == xterm; }, 3000));
    desktop->run("xdotool", {"type", "--delay", "20", "again\n"});
    EXPECT_TRUE(test::waitUntil([&] { return readAll(typed) == "again\n"; }, 3000)) << readAll(typed).toStdString();
}

// A click into the chat's reply field keeps the keyboard there, also when the window manager
// gives it to us only after the click has ended.
TEST_F(DesktopFocusTest, TheReplyFieldKeepsAKeyboardThatArrivesLate) {
    const quint64 xterm = startTerminal(home.file("typed"));
    ASSERT_NE(xterm, 0u);
    Settings::shared().set(keys::onboardingDone, true);
    launch();
    HookEvent start;
    start.name = "SessionStart";
    start.sessionID = "c";
    app->handleAgentEvent(start);
    app->agents()->setChatID(QString("c"));
    ASSERT_TRUE(app->handleDebugCommand("agents").ok);
    const QPoint over = app->panel()->mapToGlobal(QPoint(app->panel()->width() / 2, 60));
    desktop->run("xdotool", {"mousemove", QString::number(over.x()), QString::number(over.y())});
    ChatView* chat = nullptr;
    ASSERT_TRUE(test::waitUntil([&] {
        chat = app->panel()->findChild<ChatView*>();
        return chat && chat->field()->isVisible() && QApplication::focusWidget() == chat->field();
    }, 3000));
    // The user turns to the terminal; the notch stays open under the pointer.
    desktop->run("xdotool", {"windowactivate", "--sync", QString::number(xterm)});
    ASSERT_TRUE(test::waitUntil([&] { return !app->panel()->isActiveWindow(); }, 3000));
    ASSERT_TRUE(app->model()->isOpen());

    // A click into the field that the window manager answers only after it has ended.
    QTest::mouseClick(chat->field()->viewport(), Qt::LeftButton);
    settle(50);
    desktop->run("xdotool", {"windowactivate", QString::number(app->panel()->winId())});
    settle(500);
    EXPECT_TRUE(isActive(app->panel()));
    desktop->run("xdotool", {"type", "--delay", "20", "hi"});
    EXPECT_TRUE(test::waitUntil([&] { return chat->field()->toPlainText() == "hi"; }, 3000))
        << chat->field()->toPlainText().toStdString();
}
