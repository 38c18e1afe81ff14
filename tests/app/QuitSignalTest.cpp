// The built app asked to end by a signal while an agent's permission hook waits on it.
#include "TestEnv.h"
#include "agents/LoopbackClient.h"
#include "core/Settings.h"
#include <QProcess>
#include <QStandardPaths>
#include <csignal>

using namespace lomex;

namespace {

class QuitSignalTest : public test::LomexTest {
protected:
    void SetUp() override {
        if (QStandardPaths::findExecutable("curl").isEmpty()) GTEST_SKIP() << "curl is not installed (scripts/bootstrap)";
        Settings::shared().set(keys::agentsEnabled, true);
        Settings::shared().flush(); // the app started below reads the file
    }
    QString url(quint16 port, const char* path) const { return QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path); }
};

} // namespace

TEST_F(QuitSignalTest, AHeldHookIsAnsweredWithNoDecisionAndTheAppEndsCleanly) {
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        const quint16 port = test::freeLoopbackPort();
        QProcess app;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LOMEX_HOOK_PORT", QString::number(port));
        app.setProcessEnvironment(env);
        app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        test::endsWithTest(app);
        app.start(QStringLiteral(LOMEX_BINARY), {});
        ASSERT_TRUE(app.waitForStarted());
        ASSERT_TRUE(test::waitUntil([&] {
            QProcess health;
            health.start("curl", {"-s", "-m", "1", url(port, "/health")});
            return health.waitForFinished(3000) && health.readAllStandardOutput() == "ok";
        }, 30000));

        // What the permission hook sends, by real curl; it waits for the user's answer.
        QProcess hook;
        hook.start("curl", {"-s", "-m", "60", "-w", "\n%{http_code}", "-X", "POST", "--data-binary", "@-",
                            url(port, "/permission?src=lomex-agent&agent=claude")});
        hook.write(R"({"session_id":"s1","hook_event_name":"PermissionRequest","cwd":"/tmp","tool_name":"Bash","tool_input":{"command":"ls"}})");
        hook.closeWriteChannel();
        EXPECT_FALSE(hook.waitForFinished(500)) << "held, not answered at once";

        ::kill(pid_t(app.processId()), signal);
        ASSERT_TRUE(hook.waitForFinished(15000));
        // Answered with no decision: an empty body with 200, not a connection closed on it.
        EXPECT_EQ(hook.exitCode(), 0);
        EXPECT_EQ(hook.readAllStandardOutput(), "\n200");
        ASSERT_TRUE(app.waitForFinished(15000));
        EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(app.exitCode(), 0);
    }
}
