#include "TestEnv.h"
#include "app/LomexMain.h"
#include "platform/DebugChannel.h"
#include <QProcess>

using namespace lomex;

namespace {

QStringList g_seen;
int recordA(const QStringList& args) {
    g_seen = QStringList{"a"} + args;
    return 7;
}
int recordB(const QStringList& args) {
    g_seen = QStringList{"b"} + args;
    return 0;
}

class LomexMainTest : public test::LomexTest {
protected:
    // Runs the built binary with this test's environment (its runtime folder).
    QProcess* run(const QStringList& args) {
        auto* p = new QProcess;
        p->setProgram(QStringLiteral(LOMEX_BINARY));
        p->setArguments(args);
        p->setProcessEnvironment(QProcessEnvironment::systemEnvironment());
        p->start();
        return p;
    }
};

} // namespace

TEST_F(LomexMainTest, DispatchesTheFirstArgumentThroughTheTable) {
    const std::vector<CommandMode> table{{"--alpha", &recordA}, {"--beta", &recordB}};
    EXPECT_EQ(LomexMain::runMode({"lomex", "--alpha", "x", "y z"}, table), 7);
    EXPECT_EQ(g_seen, (QStringList{"a", "x", "y z"}));
    EXPECT_EQ(LomexMain::runMode({"lomex", "--beta"}, table), 0);
    EXPECT_EQ(g_seen, (QStringList{"b"}));
    // Only the first argument names a mode; anything else starts the app.
    EXPECT_EQ(LomexMain::runMode({"lomex", "x", "--alpha"}, table), -1);
    EXPECT_EQ(LomexMain::runMode({"lomex"}, table), -1);
    EXPECT_EQ(LomexMain::runMode({"lomex", "--ALPHA"}, table), -1);
    EXPECT_NE(LomexMain::findMode({"lomex", "--show", "home"}), nullptr);
}

TEST_F(LomexMainTest, ShowNeedsACommand) { EXPECT_EQ(showMode({}), 64); }

TEST_F(LomexMainTest, ShowWithoutARunningAppFailsClearly) {
    std::unique_ptr<QProcess> p(run({"--show", "home"}));
    ASSERT_TRUE(p->waitForFinished(10000));
    EXPECT_EQ(p->exitCode(), 1);
    // One plain sentence, without the socket layer's wording.
    EXPECT_EQ(p->readAllStandardError(), "lomex: Lomex is not running\n");
}

// Arguments that name no mode get the list of modes instead of starting the app unasked.
TEST_F(LomexMainTest, ArgumentsThatNameNoModeGetTheListOfModes) {
    struct Case {
        QStringList args;
        int code;
        const char* stream; // where the list goes
    };
    const Case cases[] = {
        {{"--help"}, 0, "out"},
        {{"-h"}, 0, "out"},
        {{"--bogus"}, 64, "err"},
        {{"foo"}, 64, "err"},
        {{"--SHOW", "home"}, 64, "err"},
        {{"--hook-command", "Bogus"}, 64, "err"},
        {{"--hook-command"}, 64, "err"},
    };
    for (const Case& c : cases) {
        std::unique_ptr<QProcess> p(run(c.args));
        ASSERT_TRUE(p->waitForFinished(10000)) << c.args.join(' ').toStdString();
        EXPECT_EQ(p->exitCode(), c.code) << c.args.join(' ').toStdString();
        const QByteArray out = p->readAllStandardOutput(), err = p->readAllStandardError();
        const QByteArray& text = QByteArray(c.stream) == "out" ? out : err;
        if (c.args.first() == "--hook-command") {
            // The known events are named.
            EXPECT_TRUE(err.contains("PreToolUse") && err.contains("PermissionRequest")) << err.constData();
            EXPECT_TRUE(out.isEmpty()) << out.constData();
        } else {
            EXPECT_TRUE(text.contains("--show") && text.contains("--parse") && text.contains("--statusline"))
                << c.args.join(' ').toStdString() << ": " << text.constData();
        }
    }
    std::unique_ptr<QProcess> known(run({"--hook-command", "PreToolUse"}));
    ASSERT_TRUE(known->waitForFinished(10000));
    EXPECT_EQ(known->exitCode(), 0);
    EXPECT_TRUE(known->readAllStandardOutput().startsWith("curl "));
}

TEST_F(LomexMainTest, ShowHandsTheCommandToTheRunningAppAndPrintsTheReply) {
    QStringList seen;
    DebugChannelServer server([&](const QString& c) {
        seen << c;
        if (c == "snap") return debugchannel::Reply{true, "/data/snap.png"};
        if (c == "home") return debugchannel::Reply{true, {}};
        return debugchannel::Reply{false, "unknown command"};
    });
    ASSERT_TRUE(server.listen());

    std::unique_ptr<QProcess> snap(run({"--show", "snap"}));
    ASSERT_TRUE(test::waitUntil([&] { return snap->state() == QProcess::NotRunning; }, 10000));
    EXPECT_EQ(snap->exitCode(), 0);
    EXPECT_EQ(snap->readAllStandardOutput(), "/data/snap.png\n");

    std::unique_ptr<QProcess> bogus(run({"--show", "bogus"}));
    ASSERT_TRUE(test::waitUntil([&] { return bogus->state() == QProcess::NotRunning; }, 10000));
    EXPECT_EQ(bogus->exitCode(), 2); // refused, and nothing else went wrong in the client
    EXPECT_TRUE(bogus->readAllStandardError().contains("unknown command"));
    EXPECT_EQ(seen, (QStringList{"snap", "bogus"}));
}

// A second start (the menu entry, say) brings the running app's settings window forward.
TEST_F(LomexMainTest, ASecondStartBringsTheRunningAppsSettingsForward) {
    QStringList commands;
    DebugChannelServer server([&](const QString& c) {
        commands << c;
        return debugchannel::Reply{true, {}};
    });
    ASSERT_TRUE(server.listen());
    std::unique_ptr<QProcess> second(run({}));
    ASSERT_TRUE(test::waitUntil([&] { return second->state() == QProcess::NotRunning; }, 10000));
    EXPECT_EQ(second->exitCode(), 0);
    EXPECT_TRUE(second->readAllStandardError().contains("already running"));
    EXPECT_EQ(commands, QStringList{"settings"});
    EXPECT_TRUE(server.isListening());
}

TEST_F(LomexMainTest, StartingWithoutAGraphicalSessionSaysSoAndFails) {
    QProcess p;
    p.setProgram(QStringLiteral(LOMEX_BINARY));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(name);
    p.setProcessEnvironment(env);
    p.start();
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitCode(), 1);
    const QByteArray err = p.readAllStandardError();
    EXPECT_TRUE(err.contains("graphical session")) << err.constData();
    EXPECT_TRUE(err.contains("xvfb-run"));
    EXPECT_EQ(err.count('\n'), 1);
}
