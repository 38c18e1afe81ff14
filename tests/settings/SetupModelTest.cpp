#include "TestEnv.h"
#include "core/Clock.h"
#include "core/Settings.h"
#include "feeds/UsageMonitor.h"
#include "platform/Terminal.h"
#include "core/Async.h"
#include "settings/SetupModel.h"
#include "FakeClock.h"
#include "FakeTerminal.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QCoreApplication>
#include <QThreadPool>

using namespace lomex;

namespace {

class SetupModelTest : public test::LomexTest {
protected:
    void SetUp() override {
        qputenv("PATH", (home.file("bin") + ":/usr/bin:/bin").toUtf8());
        Terminal::setCurrent(&terminal);
    }
    void TearDown() override { Terminal::setCurrent(nullptr); }
    // A stand-in `claude` in ~/.local/bin, the installer's place.
    void tool(const QByteArray& body) {
        const QString path = home.write(".local/bin/claude", "#!/bin/sh\n" + body);
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    bool settle() { return test::waitUntil([&] { return !model.isChecking(); }, 20000); }
    FakeClock clock;
    FakeTerminal terminal;
    UsageMonitor usage{&clock};
    SetupModel model{&usage, &clock};
};

TEST_F(SetupModelTest, NoToolMeansNoCheck) {
    model.startPolling();
    clock.advance(10);
    EXPECT_FALSE(model.claudeInstalled());
    EXPECT_FALSE(model.claudeLoggedIn());
    EXPECT_EQ(model.checksStarted(), 0);
}

TEST_F(SetupModelTest, StatusAnswersTable) {
    struct Row {
        QByteArray script;
        bool loggedIn;
    };
    const std::vector<Row> rows{
        {R"(echo '{"loggedIn": true, "authMethod": "claude.ai"}')", true},
        {R"(echo '{"loggedIn": "yes"}')", false},
        {"echo '[]'", false},
        {"exit 0", false},
        {"echo oops >&2; exit 3", false},
        {R"(echo '{"loggedIn": true}'; exit 1)", true}, // the answer counts, not the exit
    };
    for (const Row& row : rows) {
        tool(row.script);
        model.refresh();
        ASSERT_TRUE(settle()) << row.script.toStdString();
        EXPECT_EQ(model.claudeLoggedIn(), row.loggedIn) << row.script.toStdString();
    }
}

TEST_F(SetupModelTest, AHungToolCountsAsSignedOutAndIsEnded) {
    tool("echo $$ > \"$HOME/pid\"; exec sleep 60");
    const QString tool = home.file(".local/bin/claude");
    EXPECT_FALSE(SetupModel::isLoggedIn(tool, 300));
    QFile pidFile(home.file("pid"));
    ASSERT_TRUE(pidFile.open(QIODevice::ReadOnly));
    EXPECT_FALSE(QFileInfo::exists("/proc/" + pidFile.readAll().trimmed()));
}

TEST_F(SetupModelTest, ASlowCheckEndsWithTheModel) {
    // Quitting while `claude auth status` hangs: the check is ended, not waited for, and
    // nothing comes back to the model that is gone.
    tool("echo $$ > \"$HOME/pid\"; exec sleep 60");
    const auto pidText = [&] {
        QFile f(home.file("pid"));
        return f.open(QIODevice::ReadOnly) ? f.readAll().trimmed() : QByteArray();
    };
    auto doomed = std::make_unique<SetupModel>(&usage, &clock);
    doomed->refresh();
    ASSERT_TRUE(test::waitUntil([&] { return !pidText().isEmpty(); }, 10000));
    const QByteArray pid = pidText();
    doomed.reset();
    EXPECT_TRUE(slowPool()->waitForDone(1000));
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    EXPECT_FALSE(QFileInfo::exists("/proc/" + pid));
}

TEST_F(SetupModelTest, OneCheckAtATimeAndOneUsageRefreshWhenSigningIn) {
    Settings::shared().set(keys::usageEnabled, true);
    home.write(".claude/.credentials.json", R"({"claudeAiOauth":{"accessToken":"t"}})");
    usage.setClaudeBaseUrl(QUrl("http://127.0.0.1:9")); // refused at once
    tool(R"(sleep 0.3; echo '{"loggedIn": true}')");
    int usageChanges = 0;
    QObject::connect(&usage, &UsageMonitor::changed, [&] { ++usageChanges; });
    model.refresh();
    model.refresh(); // the limits page while the timer's check runs
    EXPECT_EQ(model.checksStarted(), 1);
    ASSERT_TRUE(settle());
    EXPECT_TRUE(model.claudeLoggedIn());
    ASSERT_TRUE(test::waitUntil([&] { return usageChanges == 1; }));
    model.refresh();
    ASSERT_TRUE(settle());
    test::waitUntil([] { return false; }, 200);
    EXPECT_EQ(usageChanges, 1);
    EXPECT_EQ(model.checksStarted(), 2);
}

TEST_F(SetupModelTest, PollsEveryTwoSecondsWithOneTimerUntilStopped) {
    int refreshes = 0;
    model.calendarAccess = [&] { return ++refreshes, true; };
    model.startPolling();
    model.startPolling();
    EXPECT_EQ(refreshes, 2);
    clock.advance(2);
    EXPECT_EQ(refreshes, 3);
    model.stopPolling();
    clock.advance(10);
    EXPECT_EQ(refreshes, 3);
    EXPECT_FALSE(model.isPolling());
}

TEST_F(SetupModelTest, RequiredStepsAreCalendarRemindersAndAccessibility) {
    model.calendarAccess = [] { return true; };
    model.remindersAccess = [] { return false; };
    model.accessibilityTrusted = [] { return true; };
    model.refresh();
    EXPECT_FALSE(model.allRequiredDone());
    model.remindersAccess = [] { return true; };
    model.refresh();
    EXPECT_TRUE(model.allRequiredDone());
}

TEST_F(SetupModelTest, TheScriptInstallsOnlyWhenMissingAndChecksEachStep) {
    const QString missing = SetupModel::scriptText(false, {});
    EXPECT_TRUE(missing.startsWith("#!/bin/bash\nclear\n"));
    EXPECT_TRUE(missing.contains("echo \"1/2  Installing Claude Code (official installer from claude.ai)…\""));
    EXPECT_TRUE(missing.contains("--proto '=https'"));
    EXPECT_TRUE(missing.contains("\"$HOME/.local/bin/claude\" auth login --claudeai ||"));
    const QString installed = SetupModel::scriptText(true, "/opt/it's/claude");
    EXPECT_FALSE(installed.contains("1/2"));
    EXPECT_TRUE(installed.contains("'/opt/it'\\''s/claude' auth login --claudeai"));
    EXPECT_TRUE(installed.contains("echo \"  Lomex · nastavení limitů Claude\""));
    EXPECT_TRUE(installed.contains(QString(44, QChar(0x2500))));
    EXPECT_TRUE(installed.contains("✅ Hotovo!"));

    // The script is valid bash; run with stand-ins it stops at a failing sign-in.
    const QString path = home.write("s.sh", installed.toUtf8());
    QProcess bash;
    bash.start("bash", {"-n", path});
    ASSERT_TRUE(bash.waitForFinished());
    EXPECT_EQ(bash.exitCode(), 0) << bash.readAllStandardError().toStdString();
    tool("exit 1");
    QProcess run;
    run.setProcessEnvironment([] { auto e = QProcessEnvironment::systemEnvironment(); e.insert("TERM", "dumb"); return e; }());
    run.start("bash", {"-c", SetupModel::scriptText(false, home.file(".local/bin/claude")) + "\n"});
    run.closeWriteChannel();
    ASSERT_TRUE(run.waitForFinished());
    EXPECT_EQ(run.exitCode(), 1);
    const QByteArray out = run.readAllStandardOutput();
    EXPECT_TRUE(out.contains("Sign-in failed")) << out.toStdString();
    EXPECT_FALSE(out.contains("Done!"));
}

TEST_F(SetupModelTest, SetupClaudeWritesAnExecutableScriptOpensItAndTurnsUsageOn) {
    home.write(".claude/settings.json", "[]"); // the bridge fails; setup goes on
    model.setupClaude(true);
    EXPECT_TRUE(model.claudeBusy());
    EXPECT_TRUE(Settings::shared().get(keys::usageEnabled));
    ASSERT_EQ(terminal.opened, QStringList{SetupModel::scriptPath()});
    // A shell script's name, as file managers here know it.
    EXPECT_EQ(QFileInfo(SetupModel::scriptPath()).suffix(), "sh");
    EXPECT_EQ(QFileInfo(SetupModel::scriptPath()).permissions() & 0x7777,
              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner | QFileDevice::ReadUser
                  | QFileDevice::WriteUser | QFileDevice::ExeUser | QFileDevice::ReadGroup | QFileDevice::ExeGroup
                  | QFileDevice::ReadOther | QFileDevice::ExeOther);
    QFile f(SetupModel::scriptPath());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.readAll().contains("Instaluji Claude Code"));

    model.setupClaude(false); // overwritten, now in English
    QFile g(SetupModel::scriptPath());
    ASSERT_TRUE(g.open(QIODevice::ReadOnly));
    EXPECT_TRUE(g.readAll().contains("Installing Claude Code"));
}

TEST_F(SetupModelTest, AScriptThatCannotBeWrittenOpensNothing) {
    QDir().mkpath(SetupModel::scriptPath()); // a folder where the file goes
    model.setupClaude(false);
    EXPECT_FALSE(model.claudeBusy());
    EXPECT_TRUE(terminal.opened.isEmpty());
    terminal.succeed = false;
    QDir(SetupModel::scriptPath()).removeRecursively();
    model.setupClaude(false);
    EXPECT_FALSE(model.claudeBusy()); // no terminal: nobody is signing in
}

// The real tool from the npm registry (scripts/install-claude-cli.sh), in a fresh HOME.
TEST_F(SetupModelTest, TheRealClaudeToolReportsInstalledAndSignedOut) {
    const QString real = QFileInfo(QStringLiteral(LOMEX_BINARY)).absolutePath() + "/claude-cli/node_modules/.bin/claude";
    if (!QFileInfo(real).isExecutable()) GTEST_SKIP() << "run scripts/install-claude-cli.sh first";
    QDir().mkpath(home.file("bin"));
    QFile::link(real, home.file("bin/claude"));
    model.refresh();
    EXPECT_TRUE(model.claudeInstalled());
    ASSERT_TRUE(settle());
    EXPECT_FALSE(model.claudeLoggedIn());
    EXPECT_EQ(model.checksStarted(), 1);
}

} // namespace
