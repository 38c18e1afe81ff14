#include "TestEnv.h"
#include "agents/views/AgentViews.h"
#include "agents/views/ChatView.h"
#include "agents/ApprovalCenter.h"
#include "agents/ApprovalToken.h"
#include "agents/HookInstaller.h"
#include "agents/SessionStore.h"
#include "app/AppDelegate.h"
#include "notch/LiveActivity.h"
#include "app/NotchPanel.h"
#include "core/Settings.h"
#include "notch/CollapsedView.h"
#include "notch/NotchPageHost.h"
#include "notch/NotchRootView.h"
#include "platform/DesktopAutomation.h"
#include "platform/Feedback.h"
#include "platform/RunningApps.h"
#include "platform/Screens.h"
#include "settings/SettingsNav.h"
#include "agents/AgentSwitch.h"
#include "settings/SettingsView.h"
#include "FakeClock.h"
#include "FakeDesktopAutomation.h"
#include "FakeRunningApps.h"
#include "FakeScreens.h"
#include "FakeSoundPlayer.h"
#include "../agents/LoopbackClient.h"
#include <QCoreApplication>
#include <QProcess>
#include <QSet>
#include <QThread>
#include <QScopeGuard>
#include <QSemaphore>
#include <QThreadPool>
#include <atomic>
#include <memory>

using namespace lomex;
using Tab = NotchModel::Tab;
using Kind = ActivityState::Kind;

namespace {

HookEvent ev(const QString& name, const QString& id, Agent agent = Agent::claude)
{
    HookEvent e;
    e.name = name;
    e.sessionID = id;
    e.agent = agent;
    e.cwd = "/work/lomex";
    return e;
}

class AppDelegateAgentsTest : public test::LomexTest {
protected:
    void SetUp() override
    {
        screens.setScreens({ScreenInfo{"only", QRect(0, 0, 1920, 1080), true, false}});
        RunningApps::setCurrent(&apps);
        DesktopAutomation::setCurrent(&automation);
        // No setup wizard in the way.
        Settings::shared().set(keys::onboardingDone, true);
        app = std::make_unique<AppDelegate>(&clock, &screens);
        app->setDebugSocketPath(home.file("run/debug.sock"));
        app->applicationDidFinishLaunching();
    }
    void TearDown() override
    {
        app.reset();
        RunningApps::setCurrent(nullptr);
        DesktopAutomation::setCurrent(nullptr);
    }

    FakeClock clock;
    FakeDesktopAutomation automation;
    FakeScreens screens;
    FakeRunningApps apps;
    std::unique_ptr<AppDelegate> app;
};

} // namespace

TEST_F(AppDelegateAgentsTest, OwnsTheStoreAndApprovalsAndTheAgentsPage)
{
    const Services s = app->inject();
    ASSERT_NE(s.agents, nullptr);
    EXPECT_EQ(s.agents, app->agents());
    EXPECT_EQ(s.approvals, app->approvals());
    auto* tab = qobject_cast<AgentsView*>(app->panel()->root()->pages()->page(Tab::agents));
    ASSERT_NE(tab, nullptr);
    EXPECT_EQ(app->agentServer(), nullptr); // "agentsEnabled" is off by default
    // Its empty state leads to the agents section of the limits page.
    ASSERT_TRUE(tab->onOpenSettings);
    tab->onOpenSettings();
    EXPECT_EQ(app->settingsNav()->page(), SettingsView::Page::limits);
    EXPECT_EQ(app->settingsNav()->scrollTarget(), QStringLiteral("agents"));
}

namespace {
// Records the sounds asked for during one test.
struct RecordedSounds : feedback::FakeSoundPlayer {
    RecordedSounds() { feedback::SoundPlayer::setCurrent(this); }
    ~RecordedSounds() override { feedback::SoundPlayer::setCurrent(nullptr); }
};
} // namespace

TEST_F(AppDelegateAgentsTest, NeedsAttentionOpensTheAgentsTabWithASound)
{
    RecordedSounds sounds;
    HookEvent ask = ev("PermissionRequest", "s");
    ask.toolName = "Bash";
    ask.toolInput = {{"command", "npm test"}};
    app->handleAgentEvent(ask);
    EXPECT_TRUE(app->model()->isOpen());
    EXPECT_EQ(app->model()->tab(), Tab::agents);
    EXPECT_EQ(app->model()->toast(), "lomex: May I use Bash: npm test?");
    EXPECT_EQ(sounds.played, QStringList{"Funk"});
    EXPECT_TRUE(app->liveActivity()->inputs().agentNeedsUser);
    EXPECT_EQ(app->model()->live(), NotchModel::Live::agent);

    // A started turn says nothing.
    app->model()->close();
    app->handleAgentEvent(ev("UserPromptSubmit", "s"));
    EXPECT_FALSE(app->model()->isOpen());
    EXPECT_FALSE(app->liveActivity()->inputs().agentNeedsUser);
    EXPECT_TRUE(app->liveActivity()->inputs().agentActive);
}

TEST_F(AppDelegateAgentsTest, HugeAgentMessageGivesAShortToast)
{
    // Any local process can post; a megabyte message must not be laid out whole.
    HookEvent note = ev("Notification", "s");
    note.message = "Build " + QString(1'000'000, QLatin1Char('x'));
    app->handleAgentEvent(note);
    const QString toast = app->model()->toast();
    EXPECT_TRUE(toast.startsWith("lomex: Build xxx"));
    EXPECT_LE(toast.size(), 400);
    EXPECT_TRUE(toast.endsWith(QChar(0x2026)));

    // Short ones stay whole.
    note.message = "Pick an option";
    app->handleAgentEvent(ev("UserPromptSubmit", "s"));
    app->handleAgentEvent(note);
    EXPECT_EQ(app->model()->toast(), "lomex: Pick an option");
}

TEST_F(AppDelegateAgentsTest, QuietWhileTheAgentsTerminalIsInFront)
{
    const RunningApplication ghostty{"com.mitchellh.ghostty.desktop", "ghostty", 42};
    apps.apps = {ghostty};
    apps.frontmost = ghostty;
    HookEvent stop = ev("Stop", "s");
    stop.hostBundleID = ghostty.desktopID;
    stop.lastAssistantMessage = "Done.";
    RecordedSounds sounds;
    app->handleAgentEvent(stop);
    EXPECT_FALSE(app->model()->isOpen());
    EXPECT_TRUE(sounds.played.isEmpty());
    EXPECT_FALSE(app->agents()->session("s")->isUnseen()); // seen right there

    // Another application in front: the finish is shown, with the celebration sound.
    apps.frontmost = RunningApplication{"firefox.desktop", "firefox", 7};
    app->handleAgentEvent(ev("UserPromptSubmit", "s"));
    app->handleAgentEvent(stop);
    EXPECT_TRUE(app->model()->isOpen());
    EXPECT_EQ(app->model()->toast(), "lomex · Done · Done.");
    EXPECT_EQ(sounds.played, QStringList{"Glass"});
    EXPECT_TRUE(app->agents()->session("s")->isUnseen());
}

// Most Linux terminals name neither themselves nor a desktop id: the hook's agent process
// finds the window, and only that window in front keeps the notch quiet.
TEST_F(AppDelegateAgentsTest, QuietWhileTheSessionsOwnWindowIsInFront)
{
    automation.windows = {{7, "XTerm", "xterm.desktop", 4242, true}};
    automation.activeWindow = 7;
    HookEvent stop = ev("Stop", "s");
    stop.agentPID = 4242;
    stop.lastAssistantMessage = "Done.";
    app->handleAgentEvent(stop);
    EXPECT_FALSE(app->model()->isOpen());

    automation.activeWindow = 8;
    app->handleAgentEvent(ev("UserPromptSubmit", "s"));
    app->handleAgentEvent(stop);
    EXPECT_TRUE(app->model()->isOpen());
}

TEST_F(AppDelegateAgentsTest, ChatCommandOpensTheFirstSessionsChat)
{
    EXPECT_TRUE(app->handleDebugCommand("chat").ok) << "no sessions: the agents tab alone";
    EXPECT_EQ(app->agents()->chatID(), std::nullopt);
    EXPECT_EQ(app->model()->tab(), Tab::agents);

    app->handleAgentEvent(ev("Stop", "older"));
    clock.advance(5);
    app->handleAgentEvent(ev("UserPromptSubmit", "busy"));
    app->model()->close();
    EXPECT_TRUE(app->handleDebugCommand("chat").ok);
    EXPECT_EQ(app->agents()->chatID(), app->agents()->ordered().first().id);
    EXPECT_TRUE(app->model()->isOpen());
    auto* page = qobject_cast<AgentsView*>(app->panel()->root()->pages()->page(Tab::agents));
    ASSERT_NE(page, nullptr);
    ASSERT_NE(page->chat(), nullptr);
    EXPECT_EQ(page->chat()->session().id, app->agents()->ordered().first().id);
}

TEST_F(AppDelegateAgentsTest, PendingApprovalIsNeverQuiet)
{
    const RunningApplication term{"org.gnome.Terminal.desktop", "gnome-terminal", 1};
    apps.apps = {term};
    apps.frontmost = term;
    HookEvent ask = ev("PermissionRequest", "s");
    ask.hostBundleID = term.desktopID;
    ask.toolName = "Bash";
    std::optional<QString> answer = QString("unset");
    // The request is queued first (as onPermission would), then its notification arrives.
    app->handleAgentEvent(ask);
    app->model()->close();
    app->approvals()->add(ask, [&](const std::optional<QString>& t) { answer = t; });
    HookEvent note = ev("Notification", "s");
    note.hostBundleID = term.desktopID;
    note.message = "Claude needs your permission";
    app->handleAgentEvent(note);
    EXPECT_TRUE(app->model()->isOpen());
    app->approvals()->endAll();
    EXPECT_FALSE(answer);
}

TEST_F(AppDelegateAgentsTest, StatusLineBodiesSetTheContext)
{
    app->handleAgentEvent(ev("SessionStart", "s"));
    app->ingestAgentStatusLine(R"({"session_id":"s","context_window":{"used_percentage":37.5}})");
    EXPECT_EQ(app->agents()->session("s")->contextPercent, 37.5);
    for (const char* bad : {"", "[]", "not json", R"({"session_id":5,"context_window":{"used_percentage":1}})",
                            R"({"session_id":"s","context_window":{"used_percentage":"9"}})",
                            R"({"session_id":"s","context_window":[1]})"}) {
        app->ingestAgentStatusLine(bad);
    }
    EXPECT_EQ(app->agents()->session("s")->contextPercent, 37.5);
    // Deep nesting is dropped while parsing, the useful part still read.
    QByteArray deep = R"({"session_id":"s","x":)" + QByteArray(100000, '[') + QByteArray(100000, ']')
                    + R"(,"context_window":{"used_percentage":12}})";
    app->ingestAgentStatusLine(deep);
    EXPECT_EQ(app->agents()->session("s")->contextPercent, 12.0);
}

TEST_F(AppDelegateAgentsTest, CodexContextRefreshKeepsTheNewestRead)
{
    // Each read waits for its own gate, so the test decides which one ends first.
    QSemaphore gateA, gateB;
    // The two held reads must not take the whole global pool: painting uses it too, and on a
    // two-core machine the GUI thread would wait for them forever.
    QThreadPool* pool = QThreadPool::globalInstance();
    const int poolSize = pool->maxThreadCount();
    pool->setMaxThreadCount(poolSize + 2);
    // A failed step must not leave the reads (and the app's end) waiting.
    const auto openGates = qScopeGuard([&] {
        gateA.release(2);
        gateB.release(2);
        pool->waitForDone();
        pool->setMaxThreadCount(poolSize);
    });
    std::atomic<int> reads = 0, done = 0;
    app->codexContextReader = [&](const QString& path) -> std::optional<double> {
        ++reads;
        QSemaphore& gate = path.endsWith("a.jsonl") ? gateA : gateB;
        gate.acquire();
        ++done;
        return path.endsWith("a.jsonl") ? 20.0 : 40.0;
    };
    HookEvent start = ev("SessionStart", "x", Agent::codex);
    app->handleAgentEvent(start);
    HookEvent tool = ev("PostToolUse", "x", Agent::codex);
    tool.transcriptPath = "/tmp/a.jsonl";
    app->handleAgentEvent(tool);
    HookEvent stop = ev("Stop", "x", Agent::codex);
    stop.transcriptPath = "/tmp/b.jsonl";
    app->handleAgentEvent(stop);
    // Claude sessions and other events read nothing.
    HookEvent claudeStop = ev("Stop", "c");
    claudeStop.transcriptPath = "/tmp/c.jsonl";
    app->handleAgentEvent(claudeStop);
    HookEvent pre = ev("PreToolUse", "x", Agent::codex);
    pre.transcriptPath = "/tmp/a.jsonl";
    app->handleAgentEvent(pre);
    ASSERT_TRUE(test::waitUntil([&] { return reads == 2; }));

    gateB.release();
    ASSERT_TRUE(test::waitUntil([&] { return app->agents()->session("x")->contextPercent == 40.0; }));
    // The older read ends last and must not put its older figure back.
    gateA.release();
    ASSERT_TRUE(test::waitUntil([&] { return done == 2; }));
    test::waitUntil([] { return false; }, 100);
    EXPECT_EQ(app->agents()->session("x")->contextPercent, 40.0);
    EXPECT_EQ(reads, 2);
}

TEST_F(AppDelegateAgentsTest, RemindersShowEvenWithTheTerminalInFront)
{
    const RunningApplication term{"org.gnome.Terminal.desktop", "gnome-terminal", 1};
    apps.apps = {term};
    apps.frontmost = term;
    HookEvent note = ev("Notification", "s");
    note.hostBundleID = term.desktopID;
    note.message = "Pick an option";
    app->handleAgentEvent(note);
    EXPECT_FALSE(app->model()->isOpen()); // quiet: the user is in that terminal
    clock.advance(300);
    EXPECT_TRUE(app->model()->isOpen());
    EXPECT_EQ(app->model()->tab(), Tab::agents);
    EXPECT_TRUE(app->agents()->session("s")->reminded);
}

TEST_F(AppDelegateAgentsTest, TurningAgentsOffEndsPendingApprovals)
{
    Settings::shared().set(keys::agentsEnabled, true);
    ASSERT_NE(app->agentServer(), nullptr);
    HookEvent ask = ev("PermissionRequest", "s");
    ask.toolName = "Bash";
    std::vector<std::optional<QString>> answers;
    app->approvals()->add(ask, [&](const std::optional<QString>& t) { answers.push_back(t); });
    Settings::shared().set(keys::agentsEnabled, false);
    EXPECT_EQ(app->agentServer(), nullptr);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_FALSE(answers[0]);
}

// Starting the server brings our older command lines (with the token in them) up to date.
TEST_F(AppDelegateAgentsTest, StartingReplacesOlderHookLines)
{
    const QByteArray old = R"({"hooks":{"PermissionRequest":[{"matcher":"*","hooks":[{"type":"command",)"
                           R"("command":"r=$(curl 'http://127.0.0.1:7841/permission?src=lomex-agent'); case \"$r\" in \"abcdef0123456789 \"*) ;; esac","timeout":600}]}]}})";
    home.write(".claude/settings.json", old);
    EXPECT_FALSE(HookInstaller::isInstalled());
    Settings::shared().set(keys::agentsEnabled, true);
    ASSERT_NE(app->agentServer(), nullptr);
    EXPECT_TRUE(HookInstaller::isInstalled());
    QFile f(home.file(".claude/settings.json"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_FALSE(f.readAll().contains("abcdef0123456789"));
}

// An agent's file that cannot be taken (a number past any double) is left alone at start, and
// the switch knows why, for the limits page to show, until a switch works again.
TEST_F(AppDelegateAgentsTest, AnAgentsFileThatCannotBeReadIsReportedAtStart)
{
    const QByteArray overflow = R"({"cleanupPeriodDays": 1e400})";
    home.write(".claude/settings.json", overflow);
    Settings::shared().set(keys::agentsEnabled, true);
    ASSERT_NE(app->agentServer(), nullptr);
    ASSERT_TRUE(app->agentSwitch()->fileError().has_value());
    EXPECT_TRUE(app->agentSwitch()->fileError()->startsWith(home.file(".claude/settings.json")));
    QFile f(home.file(".claude/settings.json"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), overflow);
    home.write(".claude/settings.json", "{}");
    ASSERT_FALSE(app->agentSwitch()->setEnabled(true));
    EXPECT_FALSE(app->agentSwitch()->fileError().has_value());
}

TEST_F(AppDelegateAgentsTest, HookCommandModePrintsTheInstalledLines)
{
    QProcess p;
    p.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
    p.start(QStringLiteral(LOMEX_BINARY), {"--hook-command", "PermissionRequest"});
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitCode(), 0);
    // Same home, same token file: the child's line is ours.
    EXPECT_EQ(QString::fromUtf8(p.readAllStandardOutput()),
              HookInstaller::permissionCommand(7841, Agent::claude) + "\n");
    p.start(QStringLiteral(LOMEX_BINARY), {"--hook-command", "Stop"});
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitCode(), 0);
    EXPECT_EQ(QString::fromUtf8(p.readAllStandardOutput()), HookInstaller::command(7841, Agent::claude) + "\n");
}

TEST_F(AppDelegateAgentsTest, ClosedNotchShowsTheAgentGlyphsWhileAnAgentWorks)
{
    CollapsedView* pill = app->panel()->root()->collapsedView();
    AgentLeading* leading = pill->findChild<AgentLeading*>();
    AgentTrailing* trailing = pill->findChild<AgentTrailing*>();
    ASSERT_NE(leading, nullptr);
    ASSERT_NE(trailing, nullptr);
    EXPECT_FALSE(leading->isVisibleTo(pill));

    HookEvent pre = ev("PreToolUse", "s");
    pre.toolName = "Bash";
    pre.toolInput = {{"command", "make"}};
    app->handleAgentEvent(pre);
    EXPECT_EQ(app->model()->live(), NotchModel::Live::agent);
    EXPECT_TRUE(leading->isVisibleTo(pill));
    EXPECT_TRUE(trailing->isVisibleTo(pill));
    EXPECT_EQ(leading->symbolName(), "terminal");
    EXPECT_EQ(trailing->activeCount(), 1);
    EXPECT_EQ(leading->width(), app->model()->sideWidth());

    app->handleAgentEvent(ev("SessionEnd", "s"));
    EXPECT_NE(app->model()->live(), NotchModel::Live::agent);
    EXPECT_FALSE(leading->isVisibleTo(pill));
}

TEST_F(AppDelegateAgentsTest, AnsweringTheLastApprovalEndsTheHoldOnTheNotch)
{
    HookEvent ask = ev("PermissionRequest", "s");
    ask.toolName = "Bash";
    HookEvent other = ev("PermissionRequest", "t");
    other.toolName = "Edit";
    app->approvals()->add(ask, [](const std::optional<QString>&) {});
    app->approvals()->add(other, [](const std::optional<QString>&) {});
    app->model()->open(Tab::agents);
    app->model()->peek(570);
    ASSERT_EQ(app->approvals()->pending().size(), 2);

    app->approvals()->decide(app->approvals()->pending().first().id, ApprovalCenter::Decision::allow);
    EXPECT_TRUE(app->model()->isOpen()) << "another request still waits";
    app->approvals()->decide(app->approvals()->pending().first().id, ApprovalCenter::Decision::deny);
    EXPECT_FALSE(app->model()->isOpen()) << "no request left: the 570 s hold ends";
}

namespace {
// Counts the lookups of the window in front (each one a round trip to the X server), and those
// made on the GUI thread.
struct CountingRunningApps : FakeRunningApps {
    mutable std::atomic<int> lookups = 0;
    mutable std::atomic<int> onGuiThread = 0;
    std::optional<RunningApplication> active() const override
    {
        ++lookups;
        if (QThread::currentThread() == QCoreApplication::instance()->thread()) ++onGuiThread;
        return frontmost;
    }
};
} // namespace

// Parallel sub-agents ask at once: every request gets its card, and
// the burst is handled over several passes with one look at the window in front a pass, not
// one a request, and never on the GUI thread (a round trip to a busy X server can take tens of
// milliseconds).
TEST_F(AppDelegateAgentsTest, ABurstOfRequestsGetsEveryCardWithoutALookupEach)
{
    CountingRunningApps counting;
    RunningApps::setCurrent(&counting);
    const quint16 port = test::freeLoopbackPort();
    qputenv("LOMEX_HOOK_PORT", QByteArray::number(port));
    const auto unset = qScopeGuard([] { qunsetenv("LOMEX_HOOK_PORT"); });
    Settings::shared().set(keys::agentsEnabled, true);
    ASSERT_NE(app->agentServer(), nullptr);

    constexpr int kRequests = 32;
    const QString token(20000, QLatin1Char('x'));
    const int passesBefore = app->agentArrivalPasses();
    std::vector<std::unique_ptr<test::LoopbackClient>> clients;
    for (int i = 0; i < kRequests; ++i) {
        const QByteArray body = QStringLiteral(R"({"session_id":"sub-%1","cwd":"/p/%1","hook_event_name":"PermissionRequest",)"
                                               R"("tool_name":"Bash","tool_input":{"command":"%1%2"}})")
                                    .arg(i, 2, 10, QLatin1Char('0'))
                                    .arg(token)
                                    .toUtf8();
        auto c = std::make_unique<test::LoopbackClient>(port);
        ASSERT_TRUE(c->connected());
        ASSERT_TRUE(c->send("POST /permission?src=lomex-agent HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
                            "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body));
        clients.push_back(std::move(c));
    }
    // All of them reach the GUI thread's queue before it runs.
    for (auto& c : clients) ASSERT_TRUE(c->readByServer());
    QThread::msleep(200);
    QElapsedTimer waited;
    waited.start();
    while (app->approvals()->pending().size() < kRequests && waited.elapsed() < 10000)
        QCoreApplication::processEvents();
    const QList<PendingApproval> pending = app->approvals()->pending();
    ASSERT_EQ(pending.size(), kRequests);
    // Each its own, whatever order the server read them in.
    QSet<QString> sessions;
    for (const PendingApproval& p : pending) {
        sessions.insert(p.sessionID);
        ASSERT_TRUE(p.command);
        EXPECT_TRUE(p.command->startsWith(p.sessionID.mid(4) + QLatin1Char('x'))) << p.sessionID.toStdString();
    }
    EXPECT_EQ(sessions.size(), kRequests);
    // How many fit in a pass depends on the machine (one a pass in the sanitizer build); the
    // lookups follow the passes, never the requests.
    EXPECT_LE(counting.lookups, app->agentArrivalPasses() - passesBefore) << "one lookup for the requests handled in one pass";
    EXPECT_GE(counting.lookups, 1);
    EXPECT_EQ(counting.onGuiThread, 0);
    Settings::shared().set(keys::agentsEnabled, false);
    RunningApps::setCurrent(&apps);
}
