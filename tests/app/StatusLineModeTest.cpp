#include "TestEnv.h"
#include "agents/EventServer.h"
#include "agents/LoopbackClient.h"
#include "app/AppDelegate.h"
#include "core/Settings.h"
#include "feeds/StatusLineMode.h"
#include "feeds/UsageMonitor.h"
#include "platform/Screens.h"
#include "FakeClock.h"
#include "FakeScreens.h"
#include <QCoreApplication>
#include <QFile>
#include <QProcess>

using namespace lomex;

namespace {

// What Claude Code hands its status-line command (its public status-line fields).
const QByteArray kPayload = R"({"hook_event_name":"Status","session_id":"sess-42","transcript_path":"/tmp/t.jsonl","cwd":"/work/lomex",
 "model":{"id":"claude-opus-4-1","display_name":"Opus"},"workspace":{"current_dir":"/work/lomex","project_dir":"/work/lomex"},
 "version":"2.1.197","output_style":{"name":"default"},"cost":{"total_cost_usd":0.42,"total_duration_ms":45000},
 "context_window":{"used_percentage":37.5,"remaining_percentage":62.5},"exceeds_200k_tokens":false,
 "rate_limits":{"five_hour":{"used_percentage":23.5,"resets_at":1796630400},"seven_day":{"used_percentage":41.2,"resets_at":1797000000}}})";

// Prints its input's size and a fixed line with a byte the terminal cares about.
const QString kPrevious = QStringLiteral("wc -c | tr -d ' '; printf '\\033[32mmain\\033[0m · ok'");
const QByteArray kPreviousOutput = QByteArray::number(kPayload.size()) + "\n\033[32mmain\033[0m · ok";

using StatusLineModeTest = test::LomexTest;

TEST_F(StatusLineModeTest, TheAppsSessionGetsItsContextAndThePreviousOutputPassesUnchanged) {
    FakeScreens screens;
    screens.setScreens({ScreenInfo{"only", QRect(0, 0, 1920, 1080), true, false}});
    FakeClock clock;
    AppDelegate app(&clock, &screens);
    app.agents()->handle([] { HookEvent e; e.name = "SessionStart"; e.sessionID = "sess-42"; e.agent = Agent::claude; e.cwd = "/work/lomex"; return e; }());

    const quint16 port = test::freeLoopbackPort();
    EventServer server(port, [](const HookEvent&) {});
    QPointer<AppDelegate> self(&app);
    server.onUsage = [self](const QByteArray& body) {
        QMetaObject::invokeMethod(QCoreApplication::instance(), [self, body] { if (self) self->ingestAgentStatusLine(body); }, Qt::QueuedConnection);
    };
    ASSERT_FALSE(server.start());

    statusline::Options options;
    options.port = port;
    options.previousCommand = kPrevious;
    EXPECT_EQ(statusline::run(kPayload, options), kPreviousOutput);
    ASSERT_TRUE(test::waitUntil([&] { return app.agents()->session("sess-42")->contextPercent.has_value(); }));
    EXPECT_EQ(*app.agents()->session("sess-42")->contextPercent, 37.5);
    // The plan limits it carried are kept for the usage monitor.
    EXPECT_EQ(UsageMonitor::readBridgeFile().size(), 2);
    server.stop();
}

TEST_F(StatusLineModeTest, WithTheAppDownItStillPrintsThePreviousOutput) {
    Settings::shared().set(keys::agentsEnabled, true);
    Settings::shared().set(keys::previousStatusLine, kPrevious);
    Settings::shared().flush(); // the mode below reads the file
    QProcess p;
    p.start(QStringLiteral(LOMEX_BINARY), {"--statusline"});
    p.write(kPayload);
    p.closeWriteChannel();
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitCode(), 0);
    EXPECT_EQ(p.readAllStandardOutput(), kPreviousOutput);
    EXPECT_TRUE(p.readAllStandardError().isEmpty());

    // Output that cannot be written is a failure, not a success.
    QProcess full;
    full.setStandardOutputFile(QStringLiteral("/dev/full"));
    full.start(QStringLiteral(LOMEX_BINARY), {"--statusline"});
    full.write(kPayload);
    full.closeWriteChannel();
    ASSERT_TRUE(full.waitForFinished(10000));
    EXPECT_NE(full.exitCode(), 0);
}

// A writer that never stops (cat /dev/zero) or never closes its end: reading stops at the
// size bound or the time limit, and the mode carries on as with a short input.
TEST_F(StatusLineModeTest, EndlessOrOpenInputStillEnds) {
    Settings::shared().set(keys::previousStatusLine, kPrevious);
    Settings::shared().flush(); // the mode below reads the file
    struct Case {
        const char* name;
        QByteArray input;
        QByteArray output;
    };
    const Case cases[] = {
        {"past the bound, never closed", QByteArray(3 << 20, '\0'), QByteArray::number(statusline::maxPayloadBytes) + "\n\033[32mmain\033[0m · ok"},
        {"short, never closed", kPayload, kPreviousOutput},
    };
    for (const Case& c : cases) {
        QProcess p;
        p.start(QStringLiteral(LOMEX_BINARY), {"--statusline"});
        ASSERT_TRUE(p.waitForStarted());
        p.write(c.input);
        ASSERT_TRUE(p.waitForFinished(15000)) << c.name;
        EXPECT_EQ(p.exitCode(), 0) << c.name;
        EXPECT_EQ(p.readAllStandardOutput(), c.output) << c.name;
    }
}

TEST_F(StatusLineModeTest, OurOwnCommandIsNeverChainedAndNothingMeansNothing) {
    statusline::Options options;
    options.previousCommand = "'/usr/bin/lomex' --statusline";
    EXPECT_TRUE(statusline::run(kPayload, options).isEmpty());
    options.previousCommand = "   ";
    EXPECT_TRUE(statusline::run("not json", options).isEmpty());
    options.previousCommand = "exec sleep 30";
    options.previousTimeoutMs = 200;
    EXPECT_TRUE(statusline::run(kPayload, options).isEmpty());
}

TEST_F(StatusLineModeTest, CodexUsagePrintsTheNewestLimits) {
    home.write(".codex/sessions/2026/12/07/rollout-b.jsonl",
               R"({"timestamp":"2026-12-07T08:00:00Z","type":"event_msg","payload":{"type":"token_count","rate_limits":{"primary":{"used_percent":7.5,"window_minutes":300,"resets_at":1796630400}}}})" "\n");
    QProcess p;
    p.start(QStringLiteral(LOMEX_BINARY), {"--codex-usage"});
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitCode(), 0);
    EXPECT_TRUE(p.readAllStandardOutput().startsWith("5h 7.5% used, resets "));
}

} // namespace
