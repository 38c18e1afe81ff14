#include "FakeHttpServer.h"
#include "TestEnv.h"
#include "core/Clock.h"
#include "core/Settings.h"
#include "feeds/UsageMonitor.h"
#include "FakeClock.h"
#include <QFile>
#include <QFileInfo>
#include <QCoreApplication>
#include <QThreadPool>
#include <nlohmann/json.hpp>
#include <sys/stat.h>

using namespace lomex;
using Limit = UsageMonitor::Limit;

namespace {

QDateTime utc(qint64 secs) { return QDateTime::fromSecsSinceEpoch(secs, QTimeZone::utc()); }

class UsageMonitorTest : public test::LomexTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.listen());
        monitor.setClaudeBaseUrl(QUrl(server.baseUrl()));
        qputenv("PATH", home.file("bin").toUtf8()); // no real claude tool in the way
        Settings::shared().setBool("usageEnabled", true);
    }
    void signIn(qint64 expiresMs = 4102444800000) {
        home.write(".claude/.credentials.json",
                   QByteArray(R"({"claudeAiOauth":{"accessToken":"sk-test-token","expiresAt":)") + QByteArray::number(expiresMs) + "}}");
    }
    bool waitRead() {
        return test::waitUntil([&] { return !monitor.claude().isEmpty() || monitor.claudeStatus(); });
    }
    FakeClock clock{QDateTime(QDate(2026, 12, 7), QTime(9, 0), QTimeZone::utc())};
    test::FakeHttpServer server;
    UsageMonitor monitor{&clock};
};

TEST(UsageMonitorRules, WindowLabels) {
    const std::vector<std::pair<qint64, QString>> rows{{300, "5h"}, {10080, "7d"}, {60, "1h"}, {1440, "24h"}, {10, "1h"}, {90, "2h"}};
    for (const auto& [minutes, label] : rows) EXPECT_EQ(UsageMonitor::windowLabel(minutes), label) << minutes;
}

TEST(UsageMonitorRules, EndpointReplyIsClampedAndKeepsOnlyItsTwoWindows) {
    const auto reply = nlohmann::json::parse(R"({
        "five_hour": {"utilization": 120.5, "resets_at": "2026-12-07T12:00:00.5+00:00"},
        "seven_day": {"utilization": -3, "resets_at": null},
        "seven_day_opus": {"utilization": 50},
        "extra_usage": {"is_enabled": false}})");
    const auto limits = UsageMonitor::parseClaudeUsage(reply);
    ASSERT_EQ(limits.size(), 2);
    EXPECT_EQ(limits[0], (Limit{"5h", 100, QDateTime(QDate(2026, 12, 7), QTime(12, 0, 0, 500), QTimeZone::utc())}));
    EXPECT_EQ(limits[1], (Limit{"7d", 0, std::nullopt}));
    EXPECT_TRUE(UsageMonitor::parseClaudeUsage(nlohmann::json::parse(R"({"five_hour":{"utilization":"9"}})")).isEmpty());
}

TEST_F(UsageMonitorTest, CodexLimitsComeFromTheNewestSessionFile) {
    const QByteArray older = R"({"timestamp":"2026-12-06T10:00:00Z","type":"event_msg","payload":{"type":"token_count","rate_limits":{"primary":{"used_percent":90,"window_minutes":300,"resets_at":1796630400}}}})";
    const QByteArray newer =
        R"({"timestamp":"2026-12-07T08:00:00Z","type":"event_msg","payload":{"type":"token_count","rate_limits":{"primary":{"used_percent":7.5,"window_minutes":60,"resets_in_seconds":600},"secondary":{"used_percent":31,"window_minutes":10080,"resets_at":1797000000}}}})"
        "\n" R"({"timestamp":"2026-12-07T08:01:00Z","type":"event_msg","payload":{"type":"token_count","rate_limits":null}})" "\n"
        R"({"type":"response_item","payload":{"type":"message"}})" "\n";
    home.write(".codex/sessions/2026/12/06/rollout-a.jsonl", older + "\n");
    home.write(".codex/sessions/2026/12/07/rollout-b.jsonl", newer);
    const auto limits = UsageMonitor::readCodexLimits(home.file(".codex"));
    ASSERT_EQ(limits.size(), 2);
    EXPECT_EQ(limits[0], (Limit{"1h", 7.5, QDateTime(QDate(2026, 12, 7), QTime(8, 10), QTimeZone::utc())}));
    EXPECT_EQ(limits[1], (Limit{"7d", 31, utc(1797000000)}));
    EXPECT_TRUE(UsageMonitor::readCodexLimits(home.file("nowhere")).isEmpty());
}

TEST_F(UsageMonitorTest, ClaudeLimitsUseTheStoredSignInOnlyInTheHeader) {
    signIn();
    server.route("GET", "/api/oauth/usage", {200, R"({"five_hour":{"utilization":33.5,"resets_at":"2026-12-07T12:00:00Z"},"seven_day":{"utilization":75}})"});
    monitor.refresh();
    ASSERT_TRUE(waitRead());
    EXPECT_EQ(monitor.claude(), (QList<Limit>{{"5h", 33.5, utc(1796644800)}, {"7d", 75, std::nullopt}}));
    EXPECT_FALSE(monitor.claudeStatus());
    ASSERT_EQ(server.requests().size(), 1);
    const auto& request = server.requests().first();
    EXPECT_EQ(request.headers.value("authorization"), "Bearer sk-test-token");
    EXPECT_FALSE(request.url.toString().contains("sk-test"));
}

TEST_F(UsageMonitorTest, StatusTable) {
    struct Row {
        const char* name;
        std::function<void()> arrange;
        QString status;
    };
    const std::vector<Row> rows{
        {"no tool, no sign-in", [] {}, "usage.noCLI"},
        {"tool, no sign-in", [&] { home.write("bin/claude", "#!/bin/sh\n"); QFile::setPermissions(home.file("bin/claude"), QFileDevice::ExeOwner | QFileDevice::ReadOwner); }, "usage.loginCLI"},
        {"expired token", [&] { signIn(1000); }, "usage.expired"},
        {"refused token", [&] { signIn(); server.route("GET", "/api/oauth/usage", {401, "{}"}); }, "usage.expired"},
        {"no limits on the plan", [&] { signIn(); server.route("GET", "/api/oauth/usage", {200, R"({"five_hour":null})"}); }, "usage.waitLimits"},
        {"server error", [&] { signIn(); server.route("GET", "/api/oauth/usage", {500, "oops"}); }, "usage.error"},
        {"not JSON", [&] { signIn(); server.route("GET", "/api/oauth/usage", {200, "<html>"}); }, "usage.error"},
    };
    for (const Row& row : rows) {
        QFile::remove(home.file(".claude/.credentials.json"));
        row.arrange();
        monitor.refresh();
        ASSERT_TRUE(test::waitUntil([&] { return monitor.claudeStatus() == row.status; })) << row.name;
        EXPECT_TRUE(monitor.claude().isEmpty()) << row.name;
    }
}

TEST_F(UsageMonitorTest, WhatAStatusLineReportedStandsInForAMissingSignIn) {
    home.write(".local/share/Lomex/claude-usage.json",
               R"({"rate_limits":{"five_hour":{"used_percentage":12,"resets_at":1796630400},"seven_day":{"used_percentage":40}}})");
    monitor.refresh();
    ASSERT_TRUE(waitRead());
    EXPECT_EQ(monitor.claude(), (QList<Limit>{{"5h", 12, utc(1796630400)}, {"7d", 40, std::nullopt}}));
    EXPECT_FALSE(monitor.claudeStatus());
}

TEST_F(UsageMonitorTest, AnOlderReadNeverReplacesANewerOne) {
    signIn();
    int n = 0;
    server.route("GET", "/api/oauth/usage", [&](const test::FakeHttpServer::Request&) {
        // The first read answers late, with an older figure.
        return ++n == 1 ? test::FakeHttpServer::Reply{200, R"({"five_hour":{"utilization":10}})", {}, 600}
                        : test::FakeHttpServer::Reply{200, R"({"five_hour":{"utilization":20}})"};
    });
    monitor.refresh();
    test::waitUntil([&] { return server.requests().size() == 1; });
    monitor.refresh();
    ASSERT_TRUE(test::waitUntil([&] { return !monitor.claude().isEmpty(); }));
    EXPECT_EQ(monitor.claude().first().usedPercent, 20);
    test::waitUntil([] { return false; }, 900);
    EXPECT_EQ(monitor.claude().first().usedPercent, 20);
}

TEST_F(UsageMonitorTest, AReadStillRunningWhenTheMonitorGoesComesBackToNobody) {
    // Qt's checked builds abort when a continuation's context is gone; here the monitor goes
    // while its Codex reads run, and a second monitor still reads normally.
    home.write(".codex/sessions/2026/12/07/rollout-b.jsonl",
               R"({"timestamp":"2026-12-07T08:00:00Z","type":"event_msg","payload":{"type":"token_count","rate_limits":{"primary":{"used_percent":7.5,"window_minutes":300,"resets_at":1796630400}}}})" "\n");
    for (int i = 0; i < 20; ++i) {
        auto doomed = std::make_unique<UsageMonitor>(&clock);
        doomed->setClaudeBaseUrl(QUrl(server.baseUrl()));
        doomed->refresh();
    }
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    monitor.refresh();
    ASSERT_TRUE(test::waitUntil([&] { return !monitor.codex().isEmpty(); }));
    EXPECT_EQ(monitor.codex().first().usedPercent, 7.5);
}

TEST_F(UsageMonitorTest, PollsEvery120SecondsOnlyWhileEnabled) {
    signIn();
    server.route("GET", "/api/oauth/usage", {200, R"({"five_hour":{"utilization":1}})"});
    monitor.start();
    EXPECT_TRUE(monitor.isPolling());
    ASSERT_TRUE(test::waitUntil([&] { return server.requests().size() == 1; }));
    clock.advance(120);
    ASSERT_TRUE(test::waitUntil([&] { return server.requests().size() == 2; }));
    Settings::shared().setBool("usageEnabled", false);
    EXPECT_FALSE(monitor.isPolling());
    clock.advance(240);
    monitor.refresh(); // off: does nothing
    test::waitUntil([] { return false; }, 200);
    EXPECT_EQ(server.requests().size(), 2);
}

TEST_F(UsageMonitorTest, TheBridgeKeepsTheUsersStatusLineOnceEvenWhenInstalledTwice) {
    home.write(".claude/settings.json", R"({"statusLine":{"type":"command","command":"~/bin/my line","padding":1},"model":"opus"})");
    EXPECT_FALSE(UsageMonitor::isBridgeInstalled());
    ASSERT_FALSE(UsageMonitor::installBridge("/opt/lo mex/lomex"));
    EXPECT_TRUE(UsageMonitor::isBridgeInstalled());
    EXPECT_EQ(Settings::shared().stringValue("previousStatusLine"), "~/bin/my line");
    ASSERT_FALSE(UsageMonitor::installBridge("/opt/lo mex/lomex"));
    EXPECT_EQ(Settings::shared().stringValue("previousStatusLine"), "~/bin/my line");
    QFile f(home.file(".claude/settings.json"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const auto root = nlohmann::ordered_json::parse(f.readAll().toStdString());
    EXPECT_EQ(root["statusLine"]["command"], "'/opt/lo mex/lomex' --statusline");
    EXPECT_EQ(root["statusLine"]["padding"], 1);
    EXPECT_EQ(root.begin().key(), "statusLine"); // the user's key order stays
    EXPECT_TRUE(QFileInfo::exists(home.file(".claude/settings.json.lomex.bak")));

    f.close();
    for (const QByteArray& bad : {QByteArray("[]"), QByteArray(R"({"statusLine":{"command":"x --statusline"},"n":1e400})")}) {
        home.write(".claude/settings.json", bad);
        EXPECT_FALSE(UsageMonitor::isBridgeInstalled());
        EXPECT_TRUE(UsageMonitor::installBridge("/x"));
        EXPECT_EQ(Settings::shared().stringValue("previousStatusLine"), "~/bin/my line");
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), bad);
        f.close();
    }
}

// The user's own status line is never left only in a file we rewrote: when it cannot be kept in
// our settings the bridge is not installed; and the backup keeps the user's version, not ours.
TEST_F(UsageMonitorTest, TheBridgeKeepsTheUsersCommandSafe) {
    const QByteArray original = R"({"statusLine":{"type":"command","command":"~/bin/my line"}})";
    const QString claude = home.write(".claude/settings.json", original);
    auto read = [](const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    Settings::shared().setBool("usageEnabled", true);
    const QString ours = Settings::shared().filePath();
    ::chmod(QFile::encodeName(ours).constData(), 0400);
    EXPECT_TRUE(UsageMonitor::installBridge("/opt/lomex"));
    EXPECT_EQ(read(claude), original);
    ::chmod(QFile::encodeName(ours).constData(), 0600);

    ASSERT_FALSE(UsageMonitor::installBridge("/opt/lomex"));
    ASSERT_FALSE(UsageMonitor::installBridge("/usr/bin/lomex"));
    EXPECT_EQ(read(claude + ".lomex.bak"), original);
}

// The bridge follows the installed program the way the login entry does: one left on a build or
// on a program that is gone is taken over; another Lomex's, or the user's own line, is not. And
// taking it away puts the user's own status line back.
TEST_F(UsageMonitorTest, TheBridgeFollowsTheInstalledProgramAndGoesAwayCleanly) {
    auto makeProgram = [&](const QString& relative) { return home.write(relative, "#!/bin/sh\n"); };
    const QString built = makeProgram("src/lomex/build/lomex");
    home.write("src/lomex/build/CMakeCache.txt", "");
    const QString installed = makeProgram(".local/bin/lomex");
    const QString other = makeProgram("opt/lo'mex/lomex");
    const QString gone = home.file("old/lomex");
    auto statusLine = [&]() -> nlohmann::ordered_json {
        QFile f(home.file(".claude/settings.json"));
        if (!f.open(QIODevice::ReadOnly)) return nullptr;
        const auto root = nlohmann::ordered_json::parse(f.readAll().toStdString());
        return root.contains("statusLine") ? root["statusLine"] : nlohmann::ordered_json();
    };
    auto commandOf = [](const QString& program) {
        QString quoted = program;
        quoted.replace("'", "'\\''");
        return ("'" + quoted + "' --statusline").toStdString();
    };
    const std::string mine = "~/bin/my line";
    struct Case {
        QString bridgeOf;   // empty: the user's own line, no bridge
        QString runningAs;
        QString after;      // whose bridge is there after refreshBridge; empty: the user's line
        bool removed;       // removeBridge(runningAs) put the user's line back
    };
    const Case cases[] = {
        {built, installed, installed, true},
        {gone, installed, installed, true},
        {other, installed, other, false},
        {built, built, built, true},
        {QString(), installed, QString(), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE((c.bridgeOf + " / " + c.runningAs).toStdString());
        home.write(".claude/settings.json", R"({"statusLine":{"type":"command","command":"~/bin/my line","padding":1},"model":"opus"})");
        Settings::shared().remove("previousStatusLine");
        if (!c.bridgeOf.isEmpty()) {
            ASSERT_FALSE(UsageMonitor::installBridge(c.bridgeOf));
        }
        EXPECT_FALSE(UsageMonitor::refreshBridge(c.runningAs));
        EXPECT_EQ(statusLine()["command"], c.after.isEmpty() ? mine : commandOf(c.after));
        EXPECT_FALSE(UsageMonitor::removeBridge(c.runningAs));
        const auto line = statusLine();
        if (c.removed || c.bridgeOf.isEmpty()) {
            EXPECT_EQ(line, nlohmann::ordered_json::parse(R"({"type":"command","command":"~/bin/my line","padding":1})"));
            if (c.removed) {
                EXPECT_FALSE(Settings::shared().isStored("previousStatusLine"));
            }
        } else {
            EXPECT_EQ(line["command"], commandOf(c.after));
            EXPECT_EQ(Settings::shared().stringValue("previousStatusLine"), "~/bin/my line");
        }
    }
    // Without a line of the user's before, the bridge's entry goes altogether; other keys stay.
    home.write(".claude/settings.json", R"({"model":"opus"})");
    Settings::shared().remove("previousStatusLine");
    ASSERT_FALSE(UsageMonitor::installBridge(installed));
    EXPECT_FALSE(UsageMonitor::removeBridge(installed));
    QFile f(home.file(".claude/settings.json"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(nlohmann::ordered_json::parse(f.readAll().toStdString()), nlohmann::ordered_json::parse(R"({"model":"opus"})"));
}

} // namespace

