#include "FeedsTestSupport.h"
#include "feeds/FeedText.h"
#include "feeds/Http.h"
#include "feeds/QueryText.h"
#include <QCoreApplication>

namespace {
lomex::http::Request req(const QString& url) {
    lomex::http::Request r;
    r.url = QUrl(url);
    return r;
}
} // namespace

using namespace lomex;
using namespace lomex::test;

TEST(Endpoints, PlainHttpOnlyToLoopback) {
    const std::vector<std::pair<const char*, bool>> cases = {
        {"https://api.golemio.cz", true},
        {"http://127.0.0.1:8080", true},
        {"http://[::1]:8080", true},
        {"http://localhost:1", true},
        {"http://api.golemio.cz", false},
        {"http://127.0.0.1.example.com", false},
        {"http://10.0.0.1", false},
        {"ftp://127.0.0.1", false},
        {"file:///etc/passwd", false},
        {"https://", false},
    };
    for (const auto& [url, allowed] : cases) EXPECT_EQ(endpoints::isAllowed(QUrl(url)), allowed) << url;
}

TEST(Endpoints, EnvironmentOverridesButNeverDowngrades) {
    TempHome home;
    qputenv("LOMEX_ENDPOINTS", "golemio=http://127.0.0.1:9,forecast=http://weather.example.com, chmi=https://m.example.org/cap/");
    EXPECT_EQ(endpoints::base(endpoints::Service::golemio)->toString(), "http://127.0.0.1:9");
    EXPECT_EQ(endpoints::base(endpoints::Service::forecast)->host(), "api.open-meteo.com");
    EXPECT_EQ(endpoints::base(endpoints::Service::chmi)->toString(), "https://m.example.org/cap/");
    EXPECT_FALSE(endpoints::base(endpoints::Service::update)) << "no feed unless built with one";
    qunsetenv("LOMEX_ENDPOINTS");
}

TEST(QueryText, EveryValueFullyEncoded) {
    const QUrl url = querytext::withPath(QUrl("https://idos.cz"), "/pid/odjezdy/",
                                         {{"f", "Na Knížecí & Co+1 #2=3/4?"}, {"submit", "true"}});
    EXPECT_EQ(url.toString(QUrl::FullyEncoded),
              "https://idos.cz/pid/odjezdy/?f=Na%20Kn%C3%AD%C5%BEec%C3%AD%20%26%20Co%2B1%20%232%3D3%2F4%3F&submit=true");
    EXPECT_EQ(querytext::withPath(QUrl("http://127.0.0.1:5/base/"), "/v1/x", {}).toString(), "http://127.0.0.1:5/base/v1/x");
}

TEST(FeedText, ControlsAndBidiOverridesDropped) {
    EXPECT_EQ(feedtext::line(QString::fromUtf8("Silný\u202e vítr\n\x1b[31mzítra\t")), QString::fromUtf8("Silný vítr [31mzítra"));
    EXPECT_EQ(feedtext::paragraph("a\r\nb\x07"), "a\nb");
    EXPECT_EQ(feedtext::line(QString(500, 'x')).size(), 200);
}

class HttpClientTest : public FeedsTest {
protected:
    http::Response fetch(http::Request request) {
        std::optional<http::Response> out;
        client.get(request, &client, [&](const http::Response& r) { out = r; });
        EXPECT_TRUE(waitUntil([&] { return out.has_value(); }));
        return out.value_or(http::Response{});
    }
    http::Client client{&clock};
};

TEST_F(HttpClientTest, StatusAndBodyOfAnyAnswer) {
    server.route("GET", "/ok", json("{\"a\":1}"));
    server.route("GET", "/missing", json("{}", 404));
    auto ok = fetch(req(server.baseUrl() + "/ok"));
    EXPECT_TRUE(ok.ok());
    EXPECT_EQ(ok.body, "{\"a\":1}");
    auto missing = fetch(req(server.baseUrl() + "/missing"));
    EXPECT_FALSE(missing.ok());
    EXPECT_EQ(missing.status, 404);
    EXPECT_TRUE(missing.error.isEmpty());
}

TEST_F(HttpClientTest, RefusesPlainHttpOffTheMachineWithoutSending) {
    auto r = fetch(req("http://example.com/x"));
    EXPECT_FALSE(r.ok());
    EXPECT_FALSE(r.error.isEmpty());
    EXPECT_EQ(client.started(), 0);
}

TEST_F(HttpClientTest, TimesOutOnTheInjectedClock) {
    FakeHttpServer::Reply slow = json("{}");
    slow.delayMs = 60000;
    server.route("GET", "/slow", slow);
    std::optional<http::Response> out;
    http::Request request = req(server.baseUrl() + "/slow");
    request.timeoutSeconds = 10;
    client.get(request, &client, [&](const http::Response& r) { out = r; });
    ASSERT_TRUE(waitUntil([&] { return server.requests().size() == 1; }));
    clock.advance(9.9);
    QCoreApplication::processEvents();
    EXPECT_FALSE(out);
    clock.advance(0.2);
    ASSERT_TRUE(waitUntil([&] { return out.has_value(); }));
    EXPECT_TRUE(out->timedOut);
    EXPECT_EQ(out->status, 0);
}

TEST_F(HttpClientTest, OversizedAnswerIsCutOffAndFails) {
    server.route("GET", "/big", json(QByteArray(100000, 'x')));
    http::Request request = req(server.baseUrl() + "/big");
    request.maxBytes = 1000;
    auto r = fetch(request);
    EXPECT_FALSE(r.ok());
    EXPECT_TRUE(r.body.isEmpty());
}

TEST_F(HttpClientTest, RedirectHopsAreCheckedAndTheKeyStaysWithItsOrigin) {
    FakeHttpServer otherPort, otherHost;
    ASSERT_TRUE(otherPort.listen());
    ASSERT_TRUE(otherHost.listen("127.0.0.2"));
    for (FakeHttpServer* s : {&server, &otherPort, &otherHost}) s->route("GET", "/board", json("{}"));
    struct Case {
        QString location;
        FakeHttpServer* lands; // nullptr: refused without following
        bool keyKept;
    };
    const std::vector<Case> cases = {
        {"/board", &server, true},
        {server.baseUrl() + "/board", &server, true},
        {otherPort.baseUrl() + "/board", &otherPort, false},
        {otherHost.baseUrl() + "/board", &otherHost, false},
        {"http://example.com/board", nullptr, false},
        {"ftp://127.0.0.1/board", nullptr, false},
    };
    for (const Case& c : cases) {
        server.route("GET", "/moved", FakeHttpServer::Reply{302, {}, {{"Location", c.location.toUtf8()}}});
        for (FakeHttpServer* s : {&server, &otherPort, &otherHost}) s->clearRequests();
        http::Request request = req(server.baseUrl() + "/moved");
        request.headers.append({QByteArray("X-Access-Token"), QByteArray("secret-key")});
        const auto r = fetch(request);
        SCOPED_TRACE(c.location.toStdString());
        EXPECT_EQ(r.ok(), c.lands != nullptr) << r.describe().toStdString();
        for (FakeHttpServer* s : {&server, &otherPort, &otherHost}) {
            const auto hits = s->requestsTo("/board");
            ASSERT_EQ(hits.size(), s == c.lands ? 1 : 0);
            if (!hits.isEmpty()) {
                EXPECT_EQ(hits[0].headers.contains("x-access-token"), c.keyKept);
            }
        }
    }
}

TEST_F(HttpClientTest, RedirectLoopEnds) {
    server.route("GET", "/loop", FakeHttpServer::Reply{302, {}, {{"Location", "/loop"}}});
    const auto r = fetch(req(server.baseUrl() + "/loop"));
    EXPECT_FALSE(r.ok());
    EXPECT_FALSE(r.error.isEmpty());
    EXPECT_EQ(server.requestsTo("/loop").size(), 4);
}

TEST_F(HttpClientTest, AnswerUpToTheBudgetIsWholeOneByteMoreFails) {
    for (const int size : {0, 999, 1000, 1001, 70000, 300000}) {
        const QByteArray body(size, 'b');
        server.route("GET", "/sized", json(body));
        http::Request request = req(server.baseUrl() + "/sized");
        request.maxBytes = 1000;
        const auto r = fetch(request);
        EXPECT_EQ(r.ok(), size <= 1000) << size;
        EXPECT_EQ(r.body, size <= 1000 ? body : QByteArray()) << size;
    }
}

TEST_F(HttpClientTest, NoCallbackAfterTheContextIsGone) {
    server.route("GET", "/first", json("{}"));
    server.route("GET", "/second", json("{}"));
    bool called = false;
    {
        QObject context;
        client.get(req(server.baseUrl() + "/first"), &context, [&](const http::Response&) { called = true; });
    }
    // The first answer arrives before the second one is read.
    EXPECT_TRUE(fetch(req(server.baseUrl() + "/second")).ok());
    EXPECT_EQ(server.requestsTo("/first").size(), 1);
    EXPECT_FALSE(called);
}
