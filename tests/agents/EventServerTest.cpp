#include "LoopbackClient.h"
#include "TestEnv.h"
#include "agents/EventServer.h"
#include "agents/HttpRequest.h"
#include <QRegularExpression>
#include <atomic>
#include <mutex>
#include <thread>
#include <sys/wait.h>
#include <unistd.h>

using namespace lomex;
using namespace lomex::test;

namespace {

const QByteArray kStop = R"({"hook_event_name":"Stop","session_id":"s1"})";
const QByteArray kPermission =
    R"({"hook_event_name":"PermissionRequest","session_id":"s1","tool_name":"Bash","tool_input":{"command":"ls"}})";

// Everything the callbacks saw, in order, from whichever thread they ran on.
struct Recorder {
    std::mutex mutex;
    std::vector<QString> calls;
    std::vector<HookEvent> events;
    std::vector<QByteArray> usage;
    std::vector<PermissionReply> replies;
    std::vector<quint64> cancelled;

    void note(const QString& call)
    {
        std::lock_guard lock(mutex);
        calls.push_back(call);
    }
    size_t count(const QString& call)
    {
        std::lock_guard lock(mutex);
        return std::count(calls.begin(), calls.end(), call);
    }
    std::vector<QString> snapshot()
    {
        std::lock_guard lock(mutex);
        return calls;
    }
    PermissionReply reply(size_t i)
    {
        std::lock_guard lock(mutex);
        return replies.at(i);
    }
};

class EventServerTest : public LomexTest {
protected:
    std::unique_ptr<EventServer> makeServer(EventServer::Limits limits = {}, bool withPermission = true)
    {
        port = freeLoopbackPort();
        auto server = std::make_unique<EventServer>(
            port,
            [this](const HookEvent& event) {
                std::lock_guard lock(rec.mutex);
                rec.calls.push_back("event");
                rec.events.push_back(event);
            },
            limits);
        server->onUsage = [this](const QByteArray& body) {
            std::lock_guard lock(rec.mutex);
            rec.calls.push_back("usage");
            rec.usage.push_back(body);
        };
        server->onQuit = [this] { rec.note("quit"); };
        server->onSettings = [this] { rec.note("settings"); };
        if (withPermission) {
            server->onPermission = [this](const HookEvent&, PermissionReply reply) {
                std::lock_guard lock(rec.mutex);
                rec.calls.push_back("permission");
                rec.replies.push_back(reply);
            };
        }
        server->onPermissionCancelled = [this](quint64 id) {
            std::lock_guard lock(rec.mutex);
            rec.calls.push_back("cancelled");
            rec.cancelled.push_back(id);
        };
        EXPECT_FALSE(server->start().has_value());
        EXPECT_TRUE(server->isListening());
        return server;
    }

    quint16 port = 0;
    Recorder rec;
};

TEST_F(EventServerTest, RoutesAnswerWithExactStatusesAndBodies)
{
    auto server = makeServer();
    EXPECT_EQ(roundTrip(port, "GET /health HTTP/1.1\r\nHost: x\r\n\r\n"),
              "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok");
    EXPECT_EQ(roundTrip(port, post("/event?src=lomex-agent&agent=codex", kStop,
                                   "X-Term-Program: iTerm.app\r\nX-Bundle-Id: com.example.term\r\n")),
              httpResponse("200 OK", "ok"));
    EXPECT_EQ(roundTrip(port, post("/event", "[]")), httpResponse("400 Bad Request", "400 Bad Request"));
    EXPECT_EQ(roundTrip(port, post("/event", R"({"hook_event_name":7})")),
              httpResponse("400 Bad Request", "400 Bad Request"));
    EXPECT_EQ(roundTrip(port, post("/usage", R"({"session_id":"a"})")), httpResponse("200 OK", "ok"));
    EXPECT_EQ(roundTrip(port, post("/settings", "")), httpResponse("200 OK", "ok"));
    EXPECT_EQ(roundTrip(port, post("/quit", "")), httpResponse("200 OK", "ok"));
    // Method is case-insensitive, paths are exact.
    EXPECT_EQ(roundTrip(port, "post /event HTTP/1.1\r\nContent-Length: " + QByteArray::number(kStop.size())
                                  + "\r\n\r\n" + kStop),
              httpResponse("200 OK", "ok"));
    for (const QByteArray& request :
         {QByteArray("GET /event HTTP/1.1\r\n\r\n"), post("/event/", kStop), post("/Event", kStop),
          post("/health", ""), QByteArray("GET /usage HTTP/1.1\r\n\r\n"), post("/nothing", kStop)}) {
        EXPECT_EQ(roundTrip(port, request), httpResponse("404 Not Found", "404 Not Found")) << request.constData();
    }
    ASSERT_TRUE(test::waitUntil([&] { return rec.count("quit") == 1; }));

    std::lock_guard lock(rec.mutex);
    ASSERT_EQ(rec.events.size(), 2u);
    EXPECT_EQ(rec.events[0].agent, Agent::codex);
    EXPECT_EQ(rec.events[0].termProgram, QString("iTerm.app"));
    EXPECT_EQ(rec.events[0].hostBundleID, QString("com.example.term"));
    ASSERT_EQ(rec.usage.size(), 1u);
    EXPECT_EQ(rec.usage[0], R"({"session_id":"a"})");
    EXPECT_EQ(std::count(rec.calls.begin(), rec.calls.end(), "settings"), 1);
}

TEST_F(EventServerTest, BrowserHeadersAreRefusedOnEveryRouteInAnyCase)
{
    auto server = makeServer();
    const QList<QByteArray> headers = {"Origin: http://evil.example", "ORIGIN: null", "origin:",
                                       "Sec-Fetch-Site: cross-site", "sEC-fETCH-sITE: same-origin",
                                       "  Origin  :  x"};
    const QList<QByteArray> requests = {post("/event", kStop, "%H\r\n"), post("/permission", kPermission, "%H\r\n"),
                                        post("/usage", "{}", "%H\r\n"), post("/quit", "", "%H\r\n"),
                                        post("/settings", "", "%H\r\n"), post("/nowhere", "", "%H\r\n"),
                                        "GET /health HTTP/1.1\r\n%H\r\n\r\n"};
    for (const QByteArray& header : headers) {
        for (QByteArray request : requests) {
            request.replace("%H", header);
            EXPECT_EQ(roundTrip(port, request), httpResponse("403 Forbidden", "403 Forbidden"))
                << request.constData();
        }
    }
    // A hook sent after them is seen; none of the refused ones came before it.
    EXPECT_EQ(roundTrip(port, post("/event", kStop)), httpResponse("200 OK", "ok"));
    ASSERT_TRUE(test::waitUntil([&] { return !rec.snapshot().empty(); }));
    EXPECT_EQ(rec.snapshot(), std::vector<QString>{"event"});
}

TEST_F(EventServerTest, RequestsSplitAcrossChunksAndTrickledAreAnswered)
{
    auto server = makeServer();
    const QByteArray request = post("/event?agent=cursor", kStop);
    const qsizetype headEnd = request.indexOf("\r\n\r\n") + 4;
    {
        LoopbackClient client(port);
        client.send(request.left(headEnd));
        EXPECT_TRUE(client.staysOpenFor(100));
        client.send(request.mid(headEnd, 5));
        EXPECT_TRUE(client.staysOpenFor(50));
        client.send(request.mid(headEnd + 5));
        EXPECT_EQ(client.response(), httpResponse("200 OK", "ok"));
    }
    {
        LoopbackClient client(port);
        // The blank line itself split between chunks.
        client.send(request.left(headEnd - 3));
        client.send(request.mid(headEnd - 3, 2));
        client.send(request.mid(headEnd - 1));
        EXPECT_EQ(client.response(), httpResponse("200 OK", "ok"));
    }
    {
        LoopbackClient client(port);
        client.trickle(request);
        EXPECT_EQ(client.response(), httpResponse("200 OK", "ok"));
    }
    std::lock_guard lock(rec.mutex);
    ASSERT_EQ(rec.events.size(), 3u);
    EXPECT_EQ(rec.events[2].agent, Agent::cursor);
}

TEST_F(EventServerTest, ContentLengthAbsentWrongOrTooLarge)
{
    auto server = makeServer();
    // Absent: complete at the blank line with an empty body, later bytes ignored.
    EXPECT_EQ(roundTrip(port, "POST /event HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n" + kStop),
              httpResponse("400 Bad Request", "400 Bad Request"));
    // Not a number, or negative: read as 0.
    EXPECT_EQ(roundTrip(port, "POST /usage HTTP/1.1\r\nContent-Length: abc\r\n\r\nxyz"), httpResponse("200 OK", "ok"));
    EXPECT_EQ(roundTrip(port, "POST /usage HTTP/1.1\r\nContent-Length: -5\r\n\r\nxyz"), httpResponse("200 OK", "ok"));
    // Smaller than what is sent: the rest is ignored.
    EXPECT_EQ(roundTrip(port, "POST /usage HTTP/1.1\r\nContent-Length: 2\r\n\r\nabcdef"), httpResponse("200 OK", "ok"));
    {
        // Larger than what is sent: no answer; closed without one when the client finishes.
        LoopbackClient client(port);
        client.send("POST /event HTTP/1.1\r\nContent-Length: 100\r\n\r\n" + kStop);
        EXPECT_TRUE(client.staysOpenFor(200));
        client.shutdownWrite();
        QByteArray got;
        EXPECT_TRUE(client.readUntilClosed(&got, 3000));
        EXPECT_TRUE(got.isEmpty());
    }
    std::lock_guard lock(rec.mutex);
    ASSERT_EQ(rec.usage.size(), 3u);
    EXPECT_EQ(rec.usage[0], "");
    EXPECT_EQ(rec.usage[1], "");
    EXPECT_EQ(rec.usage[2], "ab");
    EXPECT_TRUE(rec.events.empty());
}

TEST_F(EventServerTest, RequestSizeLimitIsEightMebibytes)
{
    // The status-line route takes far less (below); this test is about the request as a whole.
    EventServer::Limits limits;
    limits.maxUsageBodyBytes = HTTPRequest::defaultMaxBytes;
    auto server = makeServer(limits);
    const QByteArray head = "POST /usage HTTP/1.1\r\nContent-Length: ";
    auto requestOfTotal = [&](qsizetype total) {
        // Content-Length digits are 7 long for every size used here.
        const qsizetype bodySize = total - head.size() - 7 - 4;
        QByteArray request = head + QByteArray::number(bodySize) + "\r\n\r\n";
        request.append(QByteArray(bodySize, 'x'));
        return request;
    };
    const QByteArray atLimit = requestOfTotal(8'388'608);
    ASSERT_EQ(atLimit.size(), 8'388'608);
    EXPECT_EQ(roundTrip(port, atLimit, 10000), httpResponse("200 OK", "ok"));

    LoopbackClient over(port);
    over.send(requestOfTotal(8'388'609).left(200)); // the head alone already declares too much
    QByteArray got;
    EXPECT_TRUE(over.readUntilClosed(&got, 3000));
    EXPECT_TRUE(got.isEmpty());

    // A head that never ends is cut off once it passes the limit.
    LoopbackClient endless(port);
    endless.send("POST /usage HTTP/1.1\r\nX-Pad: " + QByteArray(8'388'608, 'y'));
    got.clear();
    EXPECT_TRUE(endless.readUntilClosed(&got, 5000));
    EXPECT_TRUE(got.isEmpty());

    std::lock_guard lock(rec.mutex);
    ASSERT_EQ(rec.usage.size(), 1u);
    EXPECT_EQ(rec.usage[0].size(), 8'388'608 - head.size() - 7 - 4);
}

// A status line is a few KiB: a larger body is refused before anything reads it, so many
// of them cannot keep the app busy.
TEST_F(EventServerTest, StatusLineBodiesAreBounded)
{
    auto server = makeServer();
    const qsizetype limit = EventServer::Limits().maxUsageBodyBytes;
    EXPECT_EQ(limit, 64 << 10);
    const QByteArray head = "POST /usage HTTP/1.1\r\nContent-Length: ";
    for (const qsizetype size : {limit, limit + 1, qsizetype(8 << 20) - 100}) {
        const QByteArray request = head + QByteArray::number(size) + "\r\n\r\n" + QByteArray(size, ' ');
        EXPECT_EQ(roundTrip(port, request, 10000),
                  size <= limit ? httpResponse("200 OK", "ok") : httpResponse("413 Payload Too Large", "413 Payload Too Large"))
            << size;
    }
    std::lock_guard lock(rec.mutex);
    ASSERT_EQ(rec.usage.size(), 1u);
    EXPECT_EQ(rec.usage[0].size(), limit);
}

TEST_F(EventServerTest, QueryNamesRepeatLastWinsAndAreDecoded)
{
    auto server = makeServer();
    EXPECT_EQ(roundTrip(port, post("/event?agent=cursor&src=lomex-agent&agent=codex", kStop)),
              httpResponse("200 OK", "ok"));
    EXPECT_EQ(roundTrip(port, post("/event?agent=codex&agent=%43URSOR", kStop)), httpResponse("200 OK", "ok"));
    EXPECT_EQ(roundTrip(port, post("/event?agent=%zz", kStop)), httpResponse("200 OK", "ok"));
    std::lock_guard lock(rec.mutex);
    ASSERT_EQ(rec.events.size(), 3u);
    EXPECT_EQ(rec.events[0].agent, Agent::codex);
    EXPECT_EQ(rec.events[1].agent, Agent::cursor);
    EXPECT_EQ(rec.events[2].agent, Agent::claude); // an unreadable query gives no items
}

TEST_F(EventServerTest, MalformedAndStalledRequestsAreClosedWithoutAnswer)
{
    EventServer::Limits limits;
    limits.requestTimeoutMs = 300;
    auto server = makeServer(limits);
    for (const QByteArray& bad : {QByteArray("GARBAGE\r\n\r\n"), QByteArray("POST /event \xff\xfe HTTP/1.1\r\n\r\n"),
                                  QByteArray("\r\n\r\n")}) {
        LoopbackClient client(port);
        client.send(bad);
        QElapsedTimer timer;
        timer.start();
        QByteArray got;
        EXPECT_TRUE(client.readUntilClosed(&got, 2000));
        EXPECT_TRUE(got.isEmpty());
        EXPECT_LT(timer.elapsed(), 250); // at once, not at the time limit
    }
    LoopbackClient silent(port);
    LoopbackClient slow(port);
    slow.send("POST /event HTTP/1.1\r\n");
    QByteArray got;
    EXPECT_TRUE(silent.readUntilClosed(&got, 2000));
    EXPECT_TRUE(slow.readUntilClosed(&got, 2000));
    EXPECT_TRUE(got.isEmpty());
}

TEST_F(EventServerTest, TwoRequestsOnOneConnectionGetOneAnswer)
{
    auto server = makeServer();
    EXPECT_EQ(roundTrip(port, post("/event", kStop) + post("/event", kStop)), httpResponse("200 OK", "ok"));
    EXPECT_EQ(rec.count("event"), 1u);
}

// At the cap the connection that has waited longest makes room: stalled clients, even ones
// that reconnect, cannot shut real hooks out.
TEST_F(EventServerTest, WaitingConnectionsAreCappedByClosingTheOldest)
{
    EventServer::Limits limits;
    limits.maxWaitingConnections = 3;
    auto server = makeServer(limits);
    std::vector<std::unique_ptr<LoopbackClient>> idle;
    for (int i = 0; i < 3; ++i) {
        idle.push_back(std::make_unique<LoopbackClient>(port));
        idle.back()->send("GET /hea");
        std::this_thread::sleep_for(std::chrono::milliseconds(30)); // in this order, past the grace
    }
    EXPECT_EQ(roundTrip(port, "GET /health HTTP/1.1\r\n\r\n", 2000), httpResponse("200 OK", "ok"));
    QByteArray got;
    EXPECT_TRUE(idle[0]->readUntilClosed(&got, 2000)) << "the oldest made room";
    EXPECT_TRUE(got.isEmpty());
    idle[2]->send("lth HTTP/1.1\r\n\r\n");
    EXPECT_EQ(idle[2]->response(), httpResponse("200 OK", "ok"));

    // A client that keeps the server at its cap by reconnecting cannot keep real hooks out.
    std::atomic<bool> flooding{true};
    std::thread flood([&] {
        std::vector<std::unique_ptr<LoopbackClient>> mine;
        while (flooding) {
            mine.push_back(std::make_unique<LoopbackClient>(port));
            mine.back()->send("POST /event HTTP/1.1\r\n");
            if (mine.size() > 6)
                mine.erase(mine.begin());
        }
    });
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(roundTrip(port, post("/event", kStop), 2000), httpResponse("200 OK", "ok")) << i;
    flooding = false;
    flood.join();
    EXPECT_EQ(rec.count("event"), 20u);
}

// Only what has arrived is held, and the head has a bound of its own; across all connections
// the bytes held are bounded too, by closing the connection that holds the most.
TEST_F(EventServerTest, BufferedBytesAreBounded)
{
    EventServer::Limits limits;
    limits.maxBufferedBytes = 1 << 20;
    auto server = makeServer(limits);

    LoopbackClient longHead(port);
    longHead.send("POST /usage HTTP/1.1\r\nX-Pad: " + QByteArray(70'000, 'y'));
    QByteArray got;
    EXPECT_TRUE(longHead.readUntilClosed(&got, 3000)) << "a head past 64 KiB is refused";
    EXPECT_TRUE(got.isEmpty());

    auto partial = [&](qsizetype bytes) {
        auto client = std::make_unique<LoopbackClient>(port);
        client->send("POST /usage HTTP/1.1\r\nContent-Length: 8000000\r\n\r\n" + QByteArray(bytes, 'x'));
        return client;
    };
    auto small = partial(100'000);
    auto big = partial(700'000);
    ASSERT_TRUE(small->readByServer() && big->readByServer()); // counted before the third comes
    auto third = partial(400'000); // 1.2 MB in all: the one holding the most goes
    EXPECT_TRUE(big->readUntilClosed(&got, 3000));
    EXPECT_TRUE(got.isEmpty());
    // The others stay and a real hook is served meanwhile.
    EXPECT_EQ(roundTrip(port, post("/event", kStop), 2000), httpResponse("200 OK", "ok"));
    EXPECT_TRUE(small->staysOpenFor(200));
    EXPECT_TRUE(third->staysOpenFor(50));
}

// Any local account can reach a loopback port; only our own may talk to the server.
TEST_F(EventServerTest, ClientsOfOtherAccountsAreClosedUnanswered)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to run a client under another uid";
    auto server = makeServer();
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(3);
        LoopbackClient client(port);
        client.send(post("/permission", kPermission));
        QByteArray got;
        const bool closed = client.readUntilClosed(&got, 3000);
        ::_exit(closed && got.isEmpty() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "closed without an answer";
    EXPECT_TRUE(rec.snapshot().empty()) << "no callback ran";
    // Our own account is served as before.
    EXPECT_EQ(roundTrip(port, post("/event", kStop)), httpResponse("200 OK", "ok"));
}

TEST_F(EventServerTest, PermissionWithoutHandlerIsAnsweredEmptyAtOnce)
{
    auto server = makeServer({}, /*withPermission=*/false);
    EXPECT_EQ(roundTrip(port, post("/permission", kPermission)), httpResponse("200 OK", ""));
    EXPECT_EQ(roundTrip(port, post("/permission", "not json")), httpResponse("400 Bad Request", "400 Bad Request"));
    EXPECT_EQ(rec.snapshot(), std::vector<QString>{"event"});
}

TEST_F(EventServerTest, PermissionIsHeldUntilRepliedFromAnotherThread)
{
    auto server = makeServer();
    LoopbackClient client(port);
    client.send(post("/permission?agent=codex", kPermission));
    ASSERT_TRUE(test::waitUntil([&] { return rec.count("permission") == 1; }));
    EXPECT_EQ(rec.snapshot(), (std::vector<QString>{"event", "permission"}));
    EXPECT_TRUE(client.staysOpenFor(150));

    const PermissionReply reply = rec.reply(0);
    EXPECT_NE(reply.id(), 0u);
    const QString decision = QStringLiteral(
        R"(0123456789abcdef {"hookSpecificOutput":{"hookEventName":"PermissionRequest","decision":{"behavior":"allow"}}} ž)");
    std::thread([reply, decision] {
        reply(decision);
        reply(QStringLiteral("second answer is ignored"));
    }).join();
    EXPECT_EQ(client.response(), httpResponse("200 OK", decision.toUtf8()));

    // An absent text gives an empty body.
    LoopbackClient second(port);
    second.send(post("/permission", kPermission));
    ASSERT_TRUE(test::waitUntil([&] { return rec.count("permission") == 2; }));
    rec.reply(1)(std::nullopt);
    EXPECT_EQ(second.response(), httpResponse("200 OK", ""));
    EXPECT_EQ(rec.count("cancelled"), 0u);
}

TEST_F(EventServerTest, HeldPermissionsAreCappedAndOthersStillServed)
{
    EventServer::Limits limits;
    limits.maxHeldPermissions = 2;
    auto server = makeServer(limits);
    LoopbackClient a(port), b(port);
    a.send(post("/permission", kPermission));
    ASSERT_TRUE(test::waitUntil([&] { return rec.count("permission") == 1; })); // reply 0 is a's
    b.send(post("/permission", kPermission));
    ASSERT_TRUE(test::waitUntil([&] { return rec.count("permission") == 2; }));
    EXPECT_EQ(roundTrip(port, post("/permission", kPermission)), httpResponse("200 OK", ""));
    EXPECT_EQ(roundTrip(port, post("/event", kStop)), httpResponse("200 OK", "ok"));
    EXPECT_EQ(rec.count("event"), 4u);
    EXPECT_EQ(rec.count("permission"), 2u);
    rec.reply(0)(QStringLiteral("a"));
    EXPECT_EQ(a.response(), httpResponse("200 OK", "a"));
    // The freed place takes a new held request.
    LoopbackClient c(port);
    c.send(post("/permission", kPermission));
    ASSERT_TRUE(test::waitUntil([&] { return rec.count("permission") == 3; }));
    EXPECT_TRUE(c.staysOpenFor(100));
}

TEST_F(EventServerTest, ClientGoneWhileHeldIsReportedAndLaterReplyIsHarmless)
{
    auto server = makeServer();
    auto client = std::make_unique<LoopbackClient>(port);
    client->send(post("/permission", kPermission));
    ASSERT_TRUE(test::waitUntil([&] { return rec.count("permission") == 1; }));
    client.reset();
    ASSERT_TRUE(test::waitUntil([&] { return rec.count("cancelled") == 1; }));
    {
        std::lock_guard lock(rec.mutex);
        EXPECT_EQ(rec.cancelled[0], rec.replies[0].id());
    }
    rec.reply(0)(QStringLiteral("too late"));
    EXPECT_EQ(roundTrip(port, "GET /health HTTP/1.1\r\n\r\n"), httpResponse("200 OK", "ok"));
}

TEST_F(EventServerTest, StopAnswersHeldPermissionsAndLaterRepliesDoNothing)
{
    auto server = makeServer();
    std::vector<std::unique_ptr<LoopbackClient>> clients;
    for (int i = 0; i < 3; ++i) {
        clients.push_back(std::make_unique<LoopbackClient>(port));
        clients.back()->send(post("/permission", kPermission));
    }
    LoopbackClient unfinished(port);
    unfinished.send("POST /event HTTP/1.1\r\n");
    ASSERT_TRUE(test::waitUntil([&] { return rec.count("permission") == 3; }));
    server->stop();
    EXPECT_FALSE(server->isListening());
    for (auto& client : clients)
        EXPECT_EQ(client->response(1000), httpResponse("200 OK", ""));
    QByteArray got;
    EXPECT_TRUE(unfinished.readUntilClosed(&got, 1000));
    EXPECT_TRUE(got.isEmpty());
    LoopbackClient refused(port);
    EXPECT_FALSE(refused.connected());

    // Stopped is final; replies now and after destruction write nothing and do not crash.
    EXPECT_FALSE(server->start().has_value());
    EXPECT_FALSE(server->isListening());
    rec.reply(0)(QStringLiteral("after stop"));
    server.reset();
    std::thread([reply = rec.reply(1)] { reply(QStringLiteral("after destruction")); }).join();
    rec.reply(2)(std::nullopt);
    EXPECT_EQ(rec.count("cancelled"), 0u);
}

TEST_F(EventServerTest, ReplyRacingWithDestructionIsSafe)
{
    for (int round = 0; round < 20; ++round) {
        auto server = makeServer();
        LoopbackClient client(port);
        client.send(post("/permission", kPermission));
        ASSERT_TRUE(test::waitUntil([&] { return rec.count("permission") == size_t(round + 1); }));
        PermissionReply reply = rec.reply(round);
        std::thread replier([reply] { reply(QStringLiteral("x")); });
        server.reset();
        replier.join();
        const QByteArray got = client.response(1000);
        EXPECT_TRUE(got == httpResponse("200 OK", "x") || got == httpResponse("200 OK", "")) << got.constData();
    }
}

TEST_F(EventServerTest, BusyPortIsRetriedAndLoggedOnlyOnChange)
{
    static std::atomic<int> failures{0};
    failures = 0;
    const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& m) {
        if (m.startsWith("Lomex: server not listening ("))
            ++failures;
    });

    port = freeLoopbackPort();
    const int blocker = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(blocker, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(blocker, 4), 0);

    EventServer::Limits limits;
    limits.restartDelayMs = 50;
    EventServer server(port, [](const HookEvent&) {}, limits);
    EXPECT_FALSE(server.start().has_value());
    EXPECT_FALSE(server.isListening());
    ASSERT_TRUE(server.lastError().has_value());
    std::this_thread::sleep_for(std::chrono::milliseconds(400)); // several retries
    EXPECT_EQ(failures.load(), 1);

    ::close(blocker);
    ASSERT_TRUE(test::waitUntil([&] { return server.isListening(); }));
    EXPECT_FALSE(server.lastError().has_value());
    EXPECT_EQ(roundTrip(port, "GET /health HTTP/1.1\r\n\r\n"), httpResponse("200 OK", "ok"));
    server.stop();
    qInstallMessageHandler(previous);
}

TEST_F(EventServerTest, PortZeroIsInvalid)
{
    EventServer server(0, [](const HookEvent&) {});
    const auto error = server.start();
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->domain, "Lomex");
    EXPECT_EQ(error->code, 1);
    EXPECT_EQ(error->message, "Invalid port 0");
}

TEST_F(EventServerTest, ListensOnLoopbackOnly)
{
    auto server = makeServer();
    EXPECT_FALSE(server->start().has_value()); // second start does nothing
    // Another local address of the machine does not reach it.
    LoopbackClient viaAny(port);
    EXPECT_TRUE(viaAny.connected());
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in other{};
    other.sin_family = AF_INET;
    other.sin_port = htons(port);
    other.sin_addr.s_addr = htonl(0x7F000002); // 127.0.0.2 is loopback too but not the bound address
    EXPECT_NE(::connect(fd, reinterpret_cast<sockaddr*>(&other), sizeof other), 0);
    ::close(fd);
}

} // namespace
