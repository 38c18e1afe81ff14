// The whole road of a hook: the command lines that "--hook-command" prints, run by /bin/sh
// with real curl, against a running EventServer wired to a session store and an approval center
// the way the application wires them.
#include "AgentsTestSupport.h"
#include "LoopbackClient.h"
#include "TestEnv.h"
#include "agents/ApprovalCenter.h"
#include "agents/ApprovalToken.h"
#include "agents/EventServer.h"
#include "agents/HookCommandMode.h"
#include "agents/SessionStore.h"
#include "FakeClock.h"
#include "core/Paths.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryFile>
#include <cstdio>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace lomex;
using Kind = ActivityState::Kind;

namespace {

// What hookCommandMode prints for an event, captured from standard output.
QString printedLine(const QString& event)
{
    QTemporaryFile out;
    if (!out.open()) return {};
    std::fflush(stdout);
    const int saved = ::dup(STDOUT_FILENO);
    ::dup2(out.handle(), STDOUT_FILENO);
    const int code = hookCommandMode({event});
    std::fflush(stdout);
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    out.seek(0);
    const QString text = QString::fromUtf8(out.readAll());
    return code == 0 ? text : QString();
}

class HookRoundTripTest : public test::LomexTest {
protected:
    void SetUp() override
    {
        if (QStandardPaths::findExecutable("curl").isEmpty())
            GTEST_SKIP() << "curl is not installed (scripts/bootstrap installs it); the hook "
                            "round trip needs the real client";
        port = test::freeLoopbackPort();
        ASSERT_NE(port, 0);
        server = std::make_unique<EventServer>(port, [this](const HookEvent& e) {
            QMetaObject::invokeMethod(&gui, [this, e] {
                center.observe(e);
                store.handle(e);
            }, Qt::QueuedConnection);
        });
        server->onPermission = [this](const HookEvent& e, PermissionReply reply) {
            QMetaObject::invokeMethod(&gui, [this, e, reply] { center.add(e, reply); },
                                      Qt::QueuedConnection);
        };
        server->onPermissionCancelled = [this](quint64 id) {
            QMetaObject::invokeMethod(&gui, [this, id] { center.cancel(id); }, Qt::QueuedConnection);
        };
        ASSERT_FALSE(server->start());
        ASSERT_TRUE(test::waitUntil([&] { return server->isListening(); }));
    }
    void TearDown() override
    {
        if (server) server->stop();
    }

    // The printed line for the event, aimed at the test port.
    QString line(const QString& event)
    {
        QString l = printedLine(event).trimmed();
        l.replace(QStringLiteral("127.0.0.1:7841/"), QStringLiteral("127.0.0.1:%1/").arg(port));
        return l;
    }

    // Starts the hook line under /bin/sh with the payload on standard input.
    std::unique_ptr<QProcess> runHook(const QString& event, const nlohmann::json& payload)
    {
        auto p = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TERM_PROGRAM", "ghostty");
        env.remove("__CFBundleIdentifier");
        p->setProcessEnvironment(env);
        p->start("/bin/sh", {"-c", line(event)});
        p->write(QByteArray::fromStdString(payload.dump()));
        p->closeWriteChannel();
        return p;
    }

    // Runs a hook to its end; returns what it printed.
    QString runToEnd(const QString& event, const nlohmann::json& payload)
    {
        auto p = runHook(event, payload);
        finished(*p);
        return QString::fromUtf8(p->readAllStandardOutput());
    }

    bool finished(QProcess& p, int ms = 10000)
    {
        const bool done = test::waitUntil([&] { return p.state() == QProcess::NotRunning; }, ms);
        EXPECT_TRUE(done);
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), 0);
        return done;
    }

    nlohmann::json payload(const std::string& name, nlohmann::json extra = nlohmann::json::object())
    {
        nlohmann::json j = {{"hook_event_name", name}, {"session_id", "sess-1"}, {"cwd", "/work/lomex"}};
        j.update(extra);
        return j;
    }

    // Posts a permission request for "npm test" and waits until the notch holds it.
    std::unique_ptr<QProcess> ask()
    {
        auto p = runHook("PermissionRequest",
                         payload("PermissionRequest", {{"tool_name", "Bash"},
                                                       {"tool_input", {{"command", "npm test"}}},
                                                       {"permission_suggestions", nlohmann::json::array()}}));
        EXPECT_TRUE(test::waitUntil([&] { return center.pending().size() == 1; }));
        return p;
    }

    QObject gui;
    FakeClock clock;
    SessionStore store{&clock};
    ApprovalCenter center{&clock};
    quint16 port = 0;
    std::unique_ptr<EventServer> server;
};

} // namespace

TEST_F(HookRoundTripTest, PrintedLinesCreateAndUpdateASession)
{
    EXPECT_TRUE(line("Stop").startsWith("curl -s -m 2 -X POST"));
    EXPECT_EQ(runToEnd("SessionStart", payload("SessionStart")), "");
    ASSERT_TRUE(test::waitUntil([&] { return store.session("sess-1").has_value(); }));
    Session s = *store.session("sess-1");
    EXPECT_EQ(s.cwd, QString("/work/lomex"));
    EXPECT_EQ(s.termProgram, QString("ghostty"));
    EXPECT_FALSE(s.hostBundleID); // the empty header counts as absent

    runToEnd("UserPromptSubmit", payload("UserPromptSubmit", {{"prompt", "run the tests"}}));
    runToEnd("PreToolUse", payload("PreToolUse", {{"tool_name", "Bash"},
                                                   {"tool_input", {{"command", "npm test"}}}}));
    ASSERT_TRUE(test::waitUntil([&] { return store.session("sess-1")->state.is(Kind::tool); }));
    EXPECT_EQ(store.session("sess-1")->state.toolActivity()->detail, QString("npm test"));
    EXPECT_EQ(store.session("sess-1")->toolCount, 1);

    runToEnd("Stop", payload("Stop", {{"last_assistant_message", "All **green**."}}));
    ASSERT_TRUE(test::waitUntil([&] { return store.session("sess-1")->state.is(Kind::done); }));
    EXPECT_EQ(store.session("sess-1")->lastSummary, QString("All green."));

    runToEnd("SessionEnd", payload("SessionEnd"));
    ASSERT_TRUE(test::waitUntil([&] { return store.sessions().isEmpty(); }));
}

TEST_F(HookRoundTripTest, AllowPrintsTheDecisionWithoutTheToken)
{
    auto p = ask();
    ASSERT_EQ(center.pending().size(), 1);
    EXPECT_TRUE(store.session("sess-1")->state.is(Kind::waiting));
    const PendingApproval approval = center.pending().front();
    // What the approval card does: the session moves on first, then the agent hears.
    store.resume(approval.sessionID, true, approval.tool);
    center.decide(approval.id, ApprovalCenter::Decision::allow);
    ASSERT_TRUE(finished(*p));
    const QString printed = QString::fromUtf8(p->readAllStandardOutput());
    EXPECT_EQ(printed, R"({"hookSpecificOutput":{"hookEventName":"PermissionRequest","decision":{"behavior":"allow"}}})");
    EXPECT_FALSE(printed.contains(ApprovalToken::value()));
    EXPECT_TRUE(store.session("sess-1")->state.is(Kind::tool));
}

TEST_F(HookRoundTripTest, AnsweredInTheTerminalPrintsNothing)
{
    auto p = ask();
    // The user allowed it in the terminal: the tool ran and reported.
    runToEnd("PostToolUse", payload("PostToolUse", {{"tool_name", "Bash"},
                                                     {"tool_input", {{"command", "npm test"}}}}));
    ASSERT_TRUE(finished(*p));
    EXPECT_EQ(p->readAllStandardOutput(), "");
    EXPECT_TRUE(center.pending().isEmpty());
}

TEST_F(HookRoundTripTest, TimeoutPrintsNothing)
{
    auto p = ask();
    clock.advance(ApprovalCenter::claudeTimeout);
    ASSERT_TRUE(finished(*p));
    EXPECT_EQ(p->readAllStandardOutput(), "");
    EXPECT_TRUE(center.pending().isEmpty());
}

TEST_F(HookRoundTripTest, StoppedServerPrintsNothing)
{
    auto p = ask();
    server->stop();
    center.endAll();
    ASSERT_TRUE(finished(*p));
    EXPECT_EQ(p->readAllStandardOutput(), "");
    // A reply after the stop goes nowhere and nothing breaks.
    EXPECT_TRUE(center.pending().isEmpty());
}

TEST_F(HookRoundTripTest, ReplyWithoutTheTokenIsNotPrinted)
{
    // A different listener answering with a bare decision (no token) is ignored by the line.
    server->stop();
    server.reset();
    QTcpServer impostor;
    ASSERT_TRUE(impostor.listen(QHostAddress::LocalHost, port));
    QObject::connect(&impostor, &QTcpServer::newConnection, [&] {
        QTcpSocket* c = impostor.nextPendingConnection();
        QObject::connect(c, &QTcpSocket::readyRead, c, [c] {
            c->readAll();
            const QByteArray body = R"({"hookSpecificOutput":{"hookEventName":"PermissionRequest","decision":{"behavior":"allow"}}})";
            c->write("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: "
                     + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
            c->disconnectFromHost();
        });
    });
    auto p = runHook("PermissionRequest", payload("PermissionRequest", {{"tool_name", "Bash"}}));
    ASSERT_TRUE(finished(*p));
    EXPECT_EQ(p->readAllStandardOutput(), "");
}

TEST_F(HookRoundTripTest, TheTokenFileIsPutBackBeforeAnAnswer)
{
    const QString allow = R"({"hookSpecificOutput":{"hookEventName":"PermissionRequest","decision":{"behavior":"allow"}}})";
    const struct {
        const char* what;
        bool writable; // whether the folder can take the file again
    } cases[] = {{"moved away by hand", true}, {"and its folder is not one any more", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto p = ask();
        const QString token = ApprovalToken::value();
        QFile::remove(home.file("elsewhere"));
        ASSERT_TRUE(QFile::rename(ApprovalToken::filePath(), home.file("elsewhere")));
        if (!c.writable) {
            ASSERT_TRUE(QDir().rename(paths::dataDir(), home.file("elsewhere.d")));
            home.write(QDir(home.path()).relativeFilePath(paths::dataDir()), "a file");
        }
        int lost = 0;
        const auto counting = QObject::connect(&center, &ApprovalCenter::undelivered, &gui, [&] { ++lost; });
        const PendingApproval approval = center.pending().front();
        bool movedOn = false;
        const bool delivered = center.decide(approval.id, ApprovalCenter::Decision::allow, [&] {
            movedOn = true;
            store.resume(approval.sessionID, true, approval.tool);
        });
        ASSERT_TRUE(finished(*p));
        EXPECT_EQ(QString::fromUtf8(p->readAllStandardOutput()), c.writable ? allow : QString());
        EXPECT_EQ(delivered, c.writable);
        EXPECT_EQ(movedOn, c.writable);
        EXPECT_EQ(lost, c.writable ? 0 : 1);
        EXPECT_TRUE(center.pending().isEmpty());
        // The row says what the agent was told: the tool runs, or the agent still waits.
        EXPECT_TRUE(store.session("sess-1")->state.is(c.writable ? Kind::tool : Kind::waiting));
        if (c.writable) {
            EXPECT_EQ(test::readAll(ApprovalToken::filePath()), token.toLatin1());
            struct stat st {};
            ASSERT_EQ(::stat(QFile::encodeName(ApprovalToken::filePath()).constData(), &st), 0);
            EXPECT_EQ(st.st_mode & 07777, 0600u);
        }
        QObject::disconnect(counting);
    }
}
