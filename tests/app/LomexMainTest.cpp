#include "TestEnv.h"
#include "XvfbDisplay.h"
#include "agents/LoopbackClient.h"
#include "app/LomexMain.h"
#include "platform/DebugChannel.h"
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <sys/stat.h>
#include <unistd.h>

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

namespace {

// Another local account's stand-in for our runtime folder: open to all, with a socket that
// answers every command as if it were the app.
struct ForeignRuntimeFolder {
    QTemporaryDir tmp;
    QLocalServer server;
    QStringList heard;
    QString folder() const { return tmp.path() + QStringLiteral("/lomex-%1").arg(::getuid()); }
    bool make() {
        if (!QDir().mkpath(folder()) || ::chmod(QFile::encodeName(folder()).constData(), 0777) != 0) return false;
        QObject::connect(&server, &QLocalServer::newConnection, [this] {
            while (QLocalSocket* s = server.nextPendingConnection()) {
                QObject::connect(s, &QLocalSocket::readyRead, s, [this, s] {
                    heard << QString::fromUtf8(s->readAll());
                    s->write("ok /theirs/snap.png\n");
                    s->flush();
                });
            }
        });
        return server.listen(folder() + "/lomex-debug.sock");
    }
};

} // namespace

// Without XDG_RUNTIME_DIR, a folder someone else made where ours would be is not ours: the
// client neither believes it is the running app nor sends it anything.
TEST_F(LomexMainTest, AForeignRuntimeFolderIsNeverTalkedTo) {
    ForeignRuntimeFolder foreign;
    ASSERT_TRUE(foreign.make());
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("XDG_RUNTIME_DIR");
    env.insert("TMPDIR", foreign.tmp.path());
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(LOMEX_BINARY), {"--show", "snap"});
    ASSERT_TRUE(test::waitUntil([&] { return p.state() == QProcess::NotRunning; }, 10000));
    EXPECT_EQ(p.exitCode(), 1);
    EXPECT_FALSE(p.readAllStandardOutput().contains("theirs"));
    EXPECT_TRUE(foreign.heard.isEmpty()) << foreign.heard.join(' ').toStdString();
}

// Files and folders a user or another account may leave behind never stop the app: on a fresh
// home each, it is still running four seconds after its start.
TEST_F(LomexMainTest, StillRunningAfterStartWhateverTheFilesHold) {
    struct Case {
        const char* name;
        std::function<void(const QString& root, QProcessEnvironment& env)> prepare;
    };
    auto write = [](const QString& path, const QByteArray& bytes) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
    };
    ForeignRuntimeFolder foreign;
    ASSERT_TRUE(foreign.make());
    const Case cases[] = {
        {"1e400 in settings.json", [&](const QString& root, QProcessEnvironment&) {
             write(root + "/.config/Lomex/settings.json", R"({"onboardingDone":true,"hoverDelay":1e400})");
         }},
        {"1e400 in the agent's settings, monitoring on", [&](const QString& root, QProcessEnvironment&) {
             write(root + "/.config/Lomex/settings.json", R"({"onboardingDone":true,"agentsEnabled":true,"usageEnabled":true})");
             write(root + "/.claude/settings.json", R"({"cleanupPeriodDays": 1e400})");
         }},
        {"every key of the wrong type", [&](const QString& root, QProcessEnvironment&) {
             write(root + "/.config/Lomex/settings.json",
                   R"({"onboardingDone":"yes","haptics":1,"liveActivity":"no","hoverDelay":-1e308,"hoverTabs":[],)"
                   R"("hotkeysEnabled":null,"agentsEnabled":"true","agentApprovals":{},"agentReminders":2,)"
                   R"("agentCelebrate":"x","agentReplyMode":5,"agendaDays":1.5,"meetingLead":-1e308,)"
                   R"("showNameDays":0,"showOverdue":[],"contactsOccasions":null,"workMinutes":1e300,"breakMinutes":"5",)"
                   R"("batteryNotices":{},"headphoneNotices":3,"liveEqualizer":"on","clipboardEnabled":[1],)"
                   R"("pasteDirectly":"","leaveEnabled":7,"walkMinutes":[5],"weatherEnabled":"","chmiEnabled":{},)"
                   R"("usageEnabled":"1","tabOrder":"home","hiddenTabs":{"a":1},"language":7,"displayChoice":[],)"
                   R"("pillMode":1,"golemioKey":false,"note":[1,2],"shelfItems":"/etc/passwd","clipExcluded":3,)"
                   R"("weatherPlace":"Brno","pidStop":[1],"idosStop":{},"leaveLines":4,"previousStatusLine":[],)"
                   R"("focusShortcutOn":1,"focusShortcutOff":{}})");
         }},
        {"a sparse settings.json of 3 TB", [&](const QString& root, QProcessEnvironment&) {
             const QString file = root + "/.config/Lomex/settings.json";
             write(file, "{}");
             ::truncate(QFile::encodeName(file).constData(), 3LL << 40);
         }},
        {"a foreign runtime folder", [&](const QString& root, QProcessEnvironment& env) {
             write(root + "/.config/Lomex/settings.json", R"({"onboardingDone":true})");
             env.remove("XDG_RUNTIME_DIR");
             env.insert("TMPDIR", foreign.tmp.path());
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir root;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", root.path());
        env.insert("XDG_CONFIG_HOME", root.path() + "/.config");
        env.insert("XDG_DATA_HOME", root.path() + "/.local/share");
        env.insert("XDG_CACHE_HOME", root.path() + "/.cache");
        QDir().mkpath(root.path() + "/run");
        ::chmod(QFile::encodeName(root.path() + "/run").constData(), 0700);
        env.insert("XDG_RUNTIME_DIR", root.path() + "/run");
        env.insert("LOMEX_HOOK_PORT", QString::number(test::freeLoopbackPort()));
        env.remove("CLAUDE_CONFIG_DIR");
        env.remove("CODEX_HOME");
        c.prepare(root.path(), env);
        QProcess app;
        app.setProcessEnvironment(env);
        test::endsWithTest(app);
        app.start(QStringLiteral(LOMEX_BINARY), {});
        ASSERT_TRUE(app.waitForStarted());
        EXPECT_FALSE(app.waitForFinished(4000)) << app.readAllStandardError().right(2000).constData();
        EXPECT_EQ(app.state(), QProcess::Running);
        app.terminate();
        app.waitForFinished(10000);
    }
    EXPECT_TRUE(foreign.heard.isEmpty()) << foreign.heard.join(' ').toStdString();
}

// Three starts at once (a login entry and a click on the menu entry, a double click): one
// owns the session, the other two hand it their request and leave. On a real X display, where
// a start takes long enough for the others to look before anyone listens.
TEST_F(LomexMainTest, OfThreeStartsAtOnceOneStaysAndTheOthersForwardTheirRequest) {
    test::XvfbDisplay display;
    if (!display.start()) GTEST_SKIP() << "Xvfb is not installed";
    home.write(".config/Lomex/settings.json", R"({"onboardingDone":true})");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", display.name());
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.remove("WAYLAND_DISPLAY");
    env.insert("LOMEX_HOOK_PORT", QString::number(test::freeLoopbackPort()));
    std::vector<std::unique_ptr<QProcess>> starts;
    for (int i = 0; i < 3; ++i) {
        auto p = std::make_unique<QProcess>();
        p->setProcessEnvironment(env);
        test::endsWithTest(*p);
        starts.push_back(std::move(p));
    }
    for (auto& p : starts) p->start(QStringLiteral(LOMEX_BINARY), {});
    auto finished = [&] {
        return std::count_if(starts.begin(), starts.end(), [](const auto& p) { return p->state() == QProcess::NotRunning; });
    };
    ASSERT_TRUE(test::waitUntil([&] { return finished() == 2; }, 30000));
    // The one left is still there a while later.
    test::waitUntil([] { return false; }, 2000);
    EXPECT_EQ(finished(), 2);
    for (auto& p : starts) {
        if (p->state() != QProcess::NotRunning) continue;
        const QByteArray err = p->readAllStandardError();
        EXPECT_EQ(p->exitCode(), 0) << err.constData();
        EXPECT_TRUE(err.contains("already running")) << err.constData();
    }
    // It is the one that answers.
    std::unique_ptr<QProcess> show(run({"--show", "close"}));
    ASSERT_TRUE(show->waitForFinished(10000));
    EXPECT_EQ(show->exitCode(), 0) << show->readAllStandardError().constData();
    for (auto& p : starts) {
        if (p->state() == QProcess::NotRunning) continue;
        p->terminate();
        EXPECT_TRUE(p->waitForFinished(10000));
    }
}
