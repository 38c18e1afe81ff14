#include "AgentsTestSupport.h"
#include "agents/SessionStore.h"
#include "agents/TextCut.h"
#include "core/Settings.h"
#include "FakeClock.h"

#include <QCoreApplication>
#include <QSemaphore>
#include <atomic>
#include <gtest/gtest.h>

using namespace lomex;
using Kind = ActivityState::Kind;
using TKind = SessionStore::Transition::Kind;

using test::ev;

namespace {

HookEvent tool(const QString& name, const QString& toolName, nlohmann::json input,
               const QString& id = "s1")
{
    HookEvent e = ev(name, id);
    e.toolName = toolName;
    e.toolInput = std::move(input);
    return e;
}

class SessionStoreTest : public test::LomexTest {
protected:
    SessionStoreTest()
    {
        store.onTransition = [this](const SessionStore::Transition& t) { transitions.push_back(t); };
        store.onReminder = [this](const SessionStore::Transition& t) { reminders.push_back(t); };
        store.onChange = [this] { ++changes; };
        store.summaryReader = [this](const QString& path) -> std::optional<QString> {
            ++reads;
            return readerResult;
        };
    }
    Session get(const QString& id = "s1") { return store.session(id).value(); }
    // Seconds since the fake clock's start.
    double elapsed(const QDateTime& t) { return double(start.msecsTo(t)) / 1000.0; }

    FakeClock clock;
    QDateTime start = clock.now();
    SessionStore store{&clock};
    std::vector<SessionStore::Transition> transitions;
    std::vector<SessionStore::Transition> reminders;
    int changes = 0;
    std::atomic<int> reads = 0;
    std::optional<QString> readerResult;
};

} // namespace

TEST_F(SessionStoreTest, NewSessionAndCommonFields)
{
    HookEvent e = tool("PreToolUse", "Bash", {{"command", "ls -la"}});
    e.cwd = "/work/proj";
    e.termProgram = "ghostty";
    store.handle(e);
    Session s = get();
    EXPECT_EQ(s.state, ActivityState::tool(ToolActivity{"Bash", QString("ls -la")}));
    EXPECT_EQ(s.toolCount, 1);
    EXPECT_EQ(s.turnStartedAt, start);
    EXPECT_EQ(s.cwd, QString("/work/proj"));
    EXPECT_TRUE(transitions.empty());
    EXPECT_EQ(changes, 1);

    // Absent fields keep their values; the agent is fixed at creation; lastUpdate moves.
    clock.advance(5);
    HookEvent other = ev("SubagentStop", "s1", Agent::codex);
    other.hostBundleID = "com.mitchellh.ghostty.desktop";
    store.handle(other);
    s = get();
    EXPECT_EQ(s.agent, Agent::claude);
    EXPECT_EQ(s.cwd, QString("/work/proj"));
    EXPECT_EQ(s.termProgram, QString("ghostty"));
    EXPECT_EQ(s.hostBundleID, QString("com.mitchellh.ghostty.desktop"));
    EXPECT_EQ(elapsed(s.lastUpdate), 5);
    EXPECT_TRUE(s.state.is(Kind::tool));

    store.handle(ev("SomethingNew"));
    EXPECT_TRUE(get().state.is(Kind::tool));
    EXPECT_TRUE(transitions.empty());
}

TEST_F(SessionStoreTest, TurnRows)
{
    store.handle(ev("SessionStart"));
    EXPECT_TRUE(get().state.is(Kind::idle));

    store.handle(ev("UserPromptSubmit"));
    Session s = get();
    EXPECT_TRUE(s.state.is(Kind::thinking));
    EXPECT_EQ(s.turnStartedAt, start);
    ASSERT_EQ(transitions.size(), 1u);
    EXPECT_EQ(transitions[0].kind, TKind::started);

    clock.advance(2);
    store.handle(tool("PreToolUse", "Read", {{"file_path", "/a/b/main.cpp"}}));
    store.handle(tool("PreToolUse", "Edit", {{"file_path", "/a/b/x.h"}}));
    s = get();
    EXPECT_EQ(s.toolCount, 2);
    EXPECT_EQ(s.turnStartedAt, start); // kept from the prompt
    EXPECT_EQ(s.state.toolActivity()->detail, QString("x.h"));
    // SessionStart while busy keeps the state.
    store.handle(ev("SessionStart"));
    EXPECT_TRUE(get().state.is(Kind::tool));

    store.handle(ev("PostToolUseFailure"));
    EXPECT_TRUE(get().state.is(Kind::thinking));
    store.handle(ev("PreCompact"));
    EXPECT_TRUE(get().state.is(Kind::compacting));
    store.handle(ev("PostToolUse"));
    EXPECT_TRUE(get().state.is(Kind::thinking));

    clock.advance(73.5);
    HookEvent stop = ev("Stop");
    stop.lastAssistantMessage = "## Done\n\nI fixed **the bug** in `main.cpp`.";
    store.handle(stop);
    s = get();
    EXPECT_TRUE(s.state.is(Kind::done));
    EXPECT_EQ(s.lastTurnDuration, 75.5);
    EXPECT_FALSE(s.turnStartedAt);
    EXPECT_EQ(s.unseenSince, clock.now());
    EXPECT_EQ(s.lastSummary, QString("Done I fixed the bug in main.cpp."));
    ASSERT_EQ(transitions.size(), 2u);
    EXPECT_EQ(transitions[1].kind, TKind::finished);
    EXPECT_EQ(transitions[1].session.lastSummary, s.lastSummary);

    // A later Stop without a turn keeps the duration and the summary; SessionStart makes it idle.
    clock.advance(10);
    store.handle(ev("Stop"));
    EXPECT_EQ(get().lastTurnDuration, 75.5);
    EXPECT_EQ(get().lastSummary, s.lastSummary);
    EXPECT_EQ(transitions.size(), 3u);
    store.handle(ev("SessionStart"));
    EXPECT_TRUE(get().state.is(Kind::idle));

    // A new prompt clears the news, the count and the summary.
    store.handle(ev("UserPromptSubmit"));
    s = get();
    EXPECT_FALSE(s.unseenSince);
    EXPECT_EQ(s.toolCount, 0);
    EXPECT_FALSE(s.lastSummary);

    store.handle(ev("Interrupt"));
    s = get();
    EXPECT_TRUE(s.state.is(Kind::idle));
    EXPECT_FALSE(s.turnStartedAt);
    EXPECT_EQ(s.lastTurnDuration, 75.5); // no duration for an interrupted turn
}

TEST_F(SessionStoreTest, StopFailureAndAgentResponse)
{
    store.handle(ev("Stop"));
    store.handle(ev("UserPromptSubmit"));
    clock.advance(4);
    HookEvent fail = ev("StopFailure");
    fail.error = "overloaded";
    fail.errorDetails = "  \n";
    fail.lastAssistantMessage = "Servers busy\nretry later";
    store.handle(fail);
    Session s = get();
    EXPECT_EQ(s.state, ActivityState::error("API is overloaded · Servers busy"));
    EXPECT_EQ(s.lastTurnDuration, 4);
    EXPECT_FALSE(s.unseenSince); // cleared by the prompt, not set by the failure
    EXPECT_EQ(transitions.back().kind, TKind::failed);

    HookEvent response = ev("AgentResponse", "c1", Agent::cursor);
    response.lastAssistantMessage = "Here   it\nis";
    response.contextPercent = 100.0;
    store.handle(response);
    EXPECT_EQ(get("c1").lastSummary, QString("Here it is"));
    EXPECT_EQ(get("c1").contextPercent, 100.0);
    EXPECT_TRUE(get("c1").state.is(Kind::idle));
}

TEST_F(SessionStoreTest, PermissionRequestsAndNotifications)
{
    store.handle(ev("UserPromptSubmit"));
    transitions.clear();
    store.handle(tool("PermissionRequest", "Bash", {{"command", "rm -rf build"}}));
    Session s = get();
    EXPECT_EQ(s.state, ActivityState::waiting("May I use Bash: rm -rf build?"));
    EXPECT_EQ(s.waitingSince, start);
    ASSERT_EQ(transitions.size(), 1u);
    EXPECT_EQ(transitions[0].kind, TKind::needsAttention);
    EXPECT_EQ(transitions[0].session.waitingSince, start);

    // A second request while waiting replaces the message, keeps the wait and says nothing.
    clock.advance(3);
    store.handle(tool("PermissionRequest", "mcp__github__create_issue", nlohmann::json::object()));
    s = get();
    EXPECT_EQ(s.state, ActivityState::waiting("May I use github · create_issue?"));
    EXPECT_EQ(s.waitingSince, start);
    EXPECT_EQ(transitions.size(), 1u);

    // The agent's own permission notification keeps the request's message.
    HookEvent note = ev("Notification");
    note.notificationType = "permission_prompt";
    note.message = "Claude needs your permission to use Bash";
    store.handle(note);
    EXPECT_EQ(get().state.message(), "May I use github · create_issue?");
    EXPECT_EQ(transitions.size(), 1u);

    // Another kind of notification while waiting replaces it and speaks again.
    HookEvent other = ev("Notification");
    other.message = "Pick an option";
    store.handle(other);
    EXPECT_EQ(get().state.message(), "Pick an option");
    EXPECT_EQ(get().waitingSince, start);
    EXPECT_EQ(transitions.size(), 2u);

    // Idle prompts leave finished sessions alone but catch a busy one.
    store.handle(ev("Stop"));
    EXPECT_FALSE(get().waitingSince);
    HookEvent idle = ev("Notification");
    idle.message = "Claude is WAITING for your input";
    store.handle(idle);
    EXPECT_TRUE(get().state.is(Kind::done));
    HookEvent typedIdle = idle;
    typedIdle.notificationType = "elicitation_dialog"; // the phrase decides whatever the type
    store.handle(typedIdle);
    EXPECT_TRUE(get().state.is(Kind::done));
    HookEvent idleType = ev("Notification");
    idleType.notificationType = "idle_prompt";
    idleType.message = "Any text";
    store.handle(idleType);
    EXPECT_TRUE(get().state.is(Kind::done));
    store.handle(ev("UserPromptSubmit"));
    store.handle(idle);
    EXPECT_EQ(get().state.message(), "Claude is WAITING for your input");

    // Without a message the agent's name is used.
    HookEvent bare = ev("Notification", "x1", Agent::codex);
    store.handle(bare);
    EXPECT_EQ(get("x1").state.message(), "Codex needs your attention");
}

// Whatever an agent writes reaches the pill, the rows, the heading and the toast with its
// direction controls written out, so nothing shows in another order than it runs.
TEST_F(SessionStoreTest, AgentTextsShowBidiControls)
{
    const QString rlo = QString::fromUtf8("safe \u202Ehs.live");
    HookEvent start = ev("UserPromptSubmit");
    start.cwd = QString::fromUtf8("/w/\u202Etxt.exe");
    store.handle(start);
    EXPECT_EQ(get().projectName(), "<U+202E>txt.exe");
    HookEvent note = ev("Notification");
    note.message = rlo;
    store.handle(note);
    EXPECT_EQ(get().state.message(), "safe <U+202E>hs.live");
    store.handle(tool("PermissionRequest", "Bash", {{"command", rlo.toStdString()}}));
    EXPECT_EQ(get().state.message(), "May I use Bash: safe <U+202E>hs.live?");
    // The pill and the toast say what the first line leaves out.
    const std::string disguised = "git status" + std::string(61, '\n') + "rm -rf ~";
    store.handle(tool("PermissionRequest", "Bash", {{"command", disguised}}));
    EXPECT_EQ(get().state.message(), "May I use Bash: git status (+61 lines)?");
    HookEvent stop = ev("Stop");
    stop.lastAssistantMessage = rlo;
    store.handle(stop);
    EXPECT_EQ(get().lastSummary, "safe <U+202E>hs.live");
    HookEvent failure = ev("StopFailure");
    failure.errorDetails = QString::fromUtf8("\u2067evil\u2069");
    store.handle(failure);
    EXPECT_TRUE(get().state.message().contains("<U+2067>evil<U+2069>")) << get().state.message().toStdString();
}

TEST_F(SessionStoreTest, SessionEndRemoves)
{
    store.handle(ev("SessionStart"));
    const int before = changes;
    store.handle(ev("SessionEnd", "unknown"));
    EXPECT_EQ(changes, before + 1); // still published
    EXPECT_EQ(store.sessions().size(), 1);
    store.handle(ev("SessionEnd"));
    EXPECT_TRUE(store.sessions().isEmpty());
}

TEST_F(SessionStoreTest, SummaryFallbackReadsTranscriptLater)
{
    readerResult = QString("The **answer**\nis 42");
    HookEvent stop = ev("Stop");
    stop.transcriptPath = "/tmp/t.jsonl";
    store.handle(stop);
    EXPECT_FALSE(get().lastSummary);
    clock.advance(0.2);
    EXPECT_EQ(reads, 0);
    clock.advance(0.1);
    ASSERT_TRUE(test::waitUntil([&] { return get().lastSummary.has_value(); }));
    EXPECT_EQ(get().lastSummary, QString("The answer is 42"));
    EXPECT_EQ(reads, 1);

    // Codex turns and turns that brought their message are not read.
    HookEvent codex = ev("Stop", "x", Agent::codex);
    codex.transcriptPath = "/tmp/t.jsonl";
    store.handle(codex);
    clock.advance(1);
    QCoreApplication::processEvents();
    EXPECT_EQ(reads, 1);
}

TEST_F(SessionStoreTest, LateSummaryNeverOverwritesNewerTurn)
{
    QSemaphore gate;
    store.summaryReader = [&](const QString&) -> std::optional<QString> {
        ++reads;
        gate.acquire();
        return QString("old turn");
    };
    HookEvent stop = ev("Stop");
    stop.transcriptPath = "/tmp/t.jsonl";
    store.handle(stop);
    clock.advance(0.3);
    ASSERT_TRUE(test::waitUntil([&] { return reads == 1; }));

    // The next turn finishes with its own message while the old read is still running.
    store.handle(ev("UserPromptSubmit"));
    HookEvent next = ev("Stop");
    next.lastAssistantMessage = "new turn";
    store.handle(next);
    gate.release();
    test::waitUntil([] { return false; }, 200);
    EXPECT_EQ(get().lastSummary, QString("new turn"));

    // A read for a session that ended and came back is dropped as well.
    store.summaryReader = [&](const QString&) -> std::optional<QString> {
        ++reads;
        gate.acquire();
        return QString("stale");
    };
    store.handle(ev("UserPromptSubmit"));
    store.handle(stop);
    clock.advance(0.3);
    ASSERT_TRUE(test::waitUntil([&] { return reads == 2; }));
    store.handle(ev("SessionEnd"));
    HookEvent again = ev("Stop");
    store.handle(again);
    gate.release();
    test::waitUntil([] { return false; }, 200);
    EXPECT_FALSE(get().lastSummary);
}

TEST_F(SessionStoreTest, SweepRetiresStaleSessions)
{
    store.handle(tool("PreToolUse", "Bash", {{"command", "make"}}, "tool"));
    store.handle(ev("UserPromptSubmit", "think"));
    store.handle(ev("SessionStart", "idle"));
    store.handle(ev("Stop", "unseen"));
    store.handle(ev("Stop", "seen"));
    store.markSeen("seen");
    store.handle(tool("PermissionRequest", "Bash", {{"command", "x"}}, "wait"));

    clock.advance(600);
    EXPECT_TRUE(get("think").state.is(Kind::thinking)); // exactly 600: kept
    clock.advance(15);
    EXPECT_TRUE(get("think").state.is(Kind::idle));
    EXPECT_EQ(get("think").lastUpdate, start); // untouched by the sweep

    clock.advance(1800 - 615);
    EXPECT_TRUE(get("tool").state.is(Kind::tool));
    clock.advance(15);
    EXPECT_TRUE(get("tool").state.is(Kind::idle));
    EXPECT_FALSE(get("tool").turnStartedAt);

    clock.advance(3600 - 1815);
    EXPECT_EQ(store.sessions().size(), 6);
    const int before = changes;
    clock.advance(15);
    EXPECT_EQ(changes, before + 1); // four retired, one table published
    EXPECT_FALSE(store.session("idle"));
    EXPECT_FALSE(store.session("seen"));
    EXPECT_FALSE(store.session("tool"));  // idle since the sweep, old enough now
    EXPECT_FALSE(store.session("think"));
    EXPECT_TRUE(store.session("unseen"));
    EXPECT_TRUE(store.session("wait"));

    clock.advance(43200 - 3615);
    EXPECT_TRUE(store.session("unseen"));
    EXPECT_TRUE(store.session("wait"));
    clock.advance(15);
    EXPECT_FALSE(store.session("unseen"));
    // A wait stays however old: the agent still holds its question.
    clock.advance(7 * 86400);
    EXPECT_TRUE(store.session("wait"));
    EXPECT_TRUE(get("wait").state.is(Kind::waiting));
    EXPECT_EQ(transitions.size(), 4u); // two stops, a prompt and a request; the sweep said nothing
}

TEST_F(SessionStoreTest, RemindersOncePerFinishAndWait)
{
    store.handle(ev("Stop", "done"));
    clock.advance(285);
    EXPECT_TRUE(reminders.empty());
    clock.advance(15); // t = 300
    ASSERT_EQ(reminders.size(), 1u);
    EXPECT_EQ(reminders[0].kind, TKind::finished);
    EXPECT_FALSE(reminders[0].session.reminded); // snapshot from before the mark
    EXPECT_TRUE(get("done").reminded);
    clock.advance(600);
    EXPECT_EQ(reminders.size(), 1u);

    // A new Stop makes it eligible again.
    store.handle(ev("Stop", "done"));
    EXPECT_FALSE(get("done").reminded);
    clock.advance(300);
    EXPECT_EQ(reminders.size(), 2u);

    // A wait is reminded once.
    store.handle(tool("PermissionRequest", "Bash", {{"command", "x"}}, "wait"));
    clock.advance(300);
    ASSERT_EQ(reminders.size(), 3u);
    EXPECT_EQ(reminders[2].kind, TKind::needsAttention);
    clock.advance(900);
    EXPECT_EQ(reminders.size(), 3u);
}

TEST_F(SessionStoreTest, AnsweredWaitIsNotReminded)
{
    store.handle(tool("PermissionRequest", "Bash", {{"command", "x"}}));
    clock.advance(100);
    store.resume("s1", true, ToolActivity{"Bash", QString("x")});
    Session s = get();
    EXPECT_EQ(s.state, ActivityState::tool(ToolActivity{"Bash", QString("x")}));
    EXPECT_FALSE(s.waitingSince);
    EXPECT_EQ(elapsed(s.lastUpdate), 100);
    clock.advance(600);
    EXPECT_TRUE(reminders.empty());

    // Deny goes back to thinking; resume on a session that is not waiting does nothing.
    store.handle(tool("PermissionRequest", "Bash", {{"command", "y"}}, "s2"));
    store.resume("s2", false, ToolActivity{"Bash", QString("y")});
    EXPECT_TRUE(get("s2").state.is(Kind::thinking));
    const int before = changes;
    store.resume("s2", true, ToolActivity{"Bash", QString("y")});
    store.resume("nobody", true, ToolActivity{"Bash", QString("y")});
    EXPECT_EQ(changes, before);
    EXPECT_TRUE(transitions.size() == 2u);
}

TEST_F(SessionStoreTest, RemindersOffGivesNone)
{
    Settings::shared().set(keys::agentReminders, false);
    store.handle(ev("Stop"));
    store.handle(tool("PermissionRequest", "Bash", {{"command", "x"}}, "w"));
    clock.advance(1200);
    EXPECT_TRUE(reminders.empty());
    EXPECT_FALSE(get().reminded);
    EXPECT_FALSE(get("w").reminded);
}

TEST_F(SessionStoreTest, OrderingByRankThenRecency)
{
    store.handle(ev("SessionStart", "idle"));
    clock.advance(1);
    store.handle(ev("Stop", "done"));
    clock.advance(1);
    store.handle(ev("UserPromptSubmit", "work-old"));
    clock.advance(1);
    store.handle(ev("UserPromptSubmit", "work-new"));
    clock.advance(1);
    HookEvent fail = ev("StopFailure", "error");
    store.handle(fail);
    clock.advance(1);
    store.handle(ev("SessionStart", "idle2"));
    store.handle(tool("PermissionRequest", "Bash", {{"command", "x"}}, "wait-old"));
    QStringList ids;
    for (const Session& s : store.ordered()) ids << s.id;
    ASSERT_EQ(ids.size(), 7);
    EXPECT_TRUE(ids.indexOf("wait-old") < 2 && ids.indexOf("error") < 2);
    EXPECT_EQ(ids.mid(2, 2), (QStringList{"work-new", "work-old"}));
    EXPECT_EQ(ids.at(4), "done");
    EXPECT_EQ(ids.mid(5), (QStringList{"idle2", "idle"}));
}

TEST_F(SessionStoreTest, SeenAndContext)
{
    store.handle(ev("Stop", "a"));
    store.handle(ev("Stop", "b"));
    store.handle(ev("SessionStart", "c"));
    int before = changes;
    store.markSeen("c");
    store.markSeen("zzz");
    EXPECT_EQ(changes, before);
    store.markSeen("a");
    EXPECT_FALSE(get("a").unseenSince);
    EXPECT_EQ(changes, before + 1);
    store.markAllSeen();
    EXPECT_FALSE(get("b").unseenSince);
    EXPECT_EQ(changes, before + 2);

    before = changes;
    store.setContext("a", -5);
    EXPECT_EQ(get("a").contextPercent, 0.0);
    store.setContext("a", 150);
    EXPECT_EQ(get("a").contextPercent, 100.0);
    store.setContext("a", 42);
    store.setContext("a", 42);
    EXPECT_EQ(get("a").contextPercent, 42.0);
    EXPECT_EQ(changes, before + 3);
    store.setContext("nobody", 10);
    EXPECT_EQ(changes, before + 3);
}

TEST_F(SessionStoreTest, TableIsCappedOldestIdleFirst)
{
    store.handle(tool("PermissionRequest", "Bash", {{"command", "x"}}, "waiting-oldest"));
    clock.advance(1);
    for (int i = 0; i < SessionStore::maxSessions - 1; ++i) {
        store.handle(ev("SessionStart", QString("s%1").arg(i)));
        clock.advance(1);
    }
    EXPECT_EQ(store.sessions().size(), SessionStore::maxSessions);
    store.handle(ev("SessionStart", "newcomer"));
    EXPECT_EQ(store.sessions().size(), SessionStore::maxSessions);
    EXPECT_TRUE(store.session("waiting-oldest"));
    EXPECT_FALSE(store.session("s0"));
    EXPECT_TRUE(store.session("s1"));
    EXPECT_TRUE(store.session("newcomer"));

    // A table full of waiting sessions still stays bounded.
    SessionStore full{&clock};
    for (int i = 0; i <= SessionStore::maxSessions; ++i) {
        full.handle(tool("PermissionRequest", "Bash", {{"command", "x"}}, QString("w%1").arg(i)));
        clock.advance(1);
    }
    EXPECT_EQ(full.sessions().size(), SessionStore::maxSessions);
    EXPECT_FALSE(full.session("w0"));
    EXPECT_TRUE(full.session(QString("w%1").arg(SessionStore::maxSessions)));
}

TEST(SessionStoreCondense, MarksSpacesAndLength)
{
    EXPECT_EQ(SessionStore::condense("**bold** and __under__ and `code`"), "bold and under and code");
    EXPECT_EQ(SessionStore::condense("# Title\n## Sub\n### Deep\n#hashtag"), "Title Sub Deep #hashtag");
    EXPECT_EQ(SessionStore::condense("  a\n\n b\t\t c  "), "a b c");
    const QString long300(300, QChar('x'));
    const QString cut = SessionStore::condense(long300);
    EXPECT_EQ(cut.size(), 240);
    EXPECT_EQ(cut.left(239), QString(239, QChar('x')));
    EXPECT_EQ(cut.right(1), QString::fromUtf8("…"));
    QString exact;
    while (exact.size() < 240) exact += "ab ";
    exact = exact.left(240);
    if (exact.endsWith(' ')) exact[239] = 'z';
    EXPECT_EQ(SessionStore::condense(exact), exact);
    // Emoji count as one character each.
    const QString emoji = QString::fromUtf8("👍🏽").repeated(250);
    const QString e = SessionStore::condense(emoji);
    EXPECT_TRUE(e.startsWith(QString::fromUtf8("👍🏽").repeated(239)));
    EXPECT_TRUE(e.endsWith(QString::fromUtf8("…")));    // A transcript's summary is outside text too: a letter with a million marks stays small.
    const QString zalgo = SessionStore::condense("a" + QString(1'000'000, QChar(0x0301)));
    EXPECT_LE(zalgo.size(), 2 * textcut::maxClusterUnits);
    EXPECT_TRUE(zalgo.startsWith("a"));
}
