#include "FakeHttpServer.h"
#include "TestEnv.h"
#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkReply>

using namespace lomex::test;

namespace {
QNetworkReply* get(QNetworkAccessManager& nam, const QString& url, QByteArray header = {}) {
    QNetworkRequest req{QUrl(url)};
    if (!header.isEmpty()) req.setRawHeader("X-Access-Token", header);
    return nam.get(req);
}
} // namespace

// The harness serves feed tests, so it must route, record, delay and drop like a real server.
TEST(FakeHttpServer, RoutesRecordsDelaysAndDrops) {
    FakeHttpServer server;
    ASSERT_TRUE(server.listen());
    server.route("GET", "/v1/forecast", FakeHttpServer::Reply{200, R"({"ok":true})", {{"Content-Type", "application/json"}}});
    server.route("GET", "/slow", FakeHttpServer::Reply{200, "late", {}, 150});
    server.route("GET", "/drop", FakeHttpServer::Reply{200, "", {}, 0, true});
    server.route("POST", "/echo", [](const FakeHttpServer::Request& r) { return FakeHttpServer::Reply{201, r.body}; });
    QNetworkAccessManager nam;

    QNetworkReply* ok = get(nam, server.baseUrl() + "/v1/forecast?latitude=50.1&x=1", "key");
    ASSERT_TRUE(waitUntil([&] { return ok->isFinished(); }));
    EXPECT_EQ(ok->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
    EXPECT_EQ(ok->readAll(), R"({"ok":true})");
    ASSERT_EQ(server.requestsTo("/v1/forecast").size(), 1);
    EXPECT_EQ(server.requests()[0].url.query(), "latitude=50.1&x=1");
    EXPECT_EQ(server.requests()[0].headers.value("x-access-token"), "key");

    QNetworkReply* missing = get(nam, server.baseUrl() + "/nothing");
    ASSERT_TRUE(waitUntil([&] { return missing->isFinished(); }));
    EXPECT_EQ(missing->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 404);

    QElapsedTimer t;
    t.start();
    QNetworkReply* slow = get(nam, server.baseUrl() + "/slow");
    ASSERT_TRUE(waitUntil([&] { return slow->isFinished(); }));
    EXPECT_GE(t.elapsed(), 140);
    EXPECT_EQ(slow->readAll(), "late");

    QNetworkReply* dropped = get(nam, server.baseUrl() + "/drop");
    ASSERT_TRUE(waitUntil([&] { return dropped->isFinished(); }));
    EXPECT_NE(dropped->error(), QNetworkReply::NoError);

    QNetworkRequest post{QUrl(server.baseUrl() + "/echo")};
    post.setHeader(QNetworkRequest::ContentTypeHeader, "text/plain");
    QNetworkReply* echo = nam.post(post, QByteArray("hello body"));
    ASSERT_TRUE(waitUntil([&] { return echo->isFinished(); }));
    EXPECT_EQ(echo->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 201);
    EXPECT_EQ(echo->readAll(), "hello body");
}
