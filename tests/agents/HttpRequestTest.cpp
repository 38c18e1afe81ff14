#include "agents/HttpRequest.h"
#include <gtest/gtest.h>

using namespace lomex;
using Status = RequestReader::Status;

namespace {

TEST(HttpRequestParse, HeadFieldsQueryAndBody)
{
    const auto request = HTTPRequest::parse("post  /event?src=lomex-agent&agent=codex&flag&x=a%20b+c  HTTP/1.1 extra\r\n"
                                            "Host: 127.0.0.1:7841\r\n"
                                            "X-Term-Program:\t iTerm.app \t\r\n"
                                            "X-Bundle-Id: a\r\n"
                                            "x-bundle-id: b\r\n"
                                            "no colon line\r\n"
                                            "Weird: value: with colon\r\n"
                                            "Content-Length: 4\r\n\r\nbodyEXTRA");
    ASSERT_TRUE(request);
    EXPECT_EQ(request->method, "POST");
    EXPECT_EQ(request->path, "/event");
    EXPECT_EQ(request->query, (FieldMap{{"src", "lomex-agent"}, {"agent", "codex"}, {"flag", ""}, {"x", "a b+c"}}));
    EXPECT_EQ(request->headers.at("x-term-program"), "iTerm.app");
    EXPECT_EQ(request->headers.at("x-bundle-id"), "b");
    EXPECT_EQ(request->headers.at("weird"), "value: with colon");
    EXPECT_EQ(request->headers.count("no colon line"), 0u);
    EXPECT_EQ(request->body, "body");
}

TEST(HttpRequestParse, TargetSplitDropsEmptyPieces)
{
    auto target = [](const QByteArray& t) { return HTTPRequest::parse("GET " + t + " HTTP/1.1\r\n\r\n"); };
    EXPECT_EQ(target("/event")->query, FieldMap{});
    EXPECT_EQ(target("/event?")->path, "/event");
    EXPECT_EQ(target("/event?")->query, FieldMap{});
    EXPECT_EQ(target("?a=b")->path, "a=b");
    EXPECT_EQ(target("?")->path, "?");
    EXPECT_EQ(target("/e??x=1")->query, (FieldMap{{"?x", "1"}}));
    EXPECT_EQ(target("/e?a=1&a=2&a=3")->query, (FieldMap{{"a", "3"}}));
    EXPECT_EQ(target("/e?a=%4")->query, FieldMap{});
    EXPECT_EQ(target("/e?a=%ff")->query, FieldMap{}); // not UTF-8 once decoded
    // Overlong forms, surrogates and code points above U+10FFFF are not UTF-8 either.
    EXPECT_EQ(target("/e?a=%C0%80")->query, FieldMap{});
    EXPECT_EQ(target("/e?a=%ED%A0%80")->query, FieldMap{});
    EXPECT_EQ(target("/e?a=%F4%90%80%80")->query, FieldMap{});
    EXPECT_FALSE(HTTPRequest::parse("GET /\xC0\x80 HTTP/1.1\r\n\r\n"));
    EXPECT_EQ(target("/e?a=%C5%BE")->query, (FieldMap{{"a", QString::fromUtf8("ž")}}));
}

TEST(HttpRequestParse, ContentLengthReadings)
{
    auto bodyFor = [](const QByteArray& length) {
        auto r = HTTPRequest::parse("POST /u HTTP/1.1\r\nContent-Length: " + length + "\r\n\r\n0123456789");
        return r ? r->body : QByteArray("<incomplete>");
    };
    EXPECT_EQ(bodyFor("3"), "012");
    EXPECT_EQ(bodyFor("+3"), "012");
    EXPECT_EQ(bodyFor("abc"), "");
    EXPECT_EQ(bodyFor("-3"), "");
    EXPECT_EQ(bodyFor("3x"), "");
    EXPECT_EQ(bodyFor("99999999999999999999999"), ""); // unreadable
    EXPECT_EQ(bodyFor("11"), "<incomplete>");
    EXPECT_EQ(bodyFor("10"), "0123456789");
}

TEST(HttpRequestParse, IncompleteAndMalformedHeads)
{
    EXPECT_FALSE(HTTPRequest::parse("GET /health HTTP/1.1\r\nHost: x\r\n"));
    RequestReader oneWord;
    EXPECT_EQ(oneWord.feed("GET\r\n\r\n"), Status::malformed);
    RequestReader notUtf8;
    EXPECT_EQ(notUtf8.feed("GET /\xc3\x28 HTTP/1.1\r\n\r\n"), Status::malformed);
    RequestReader overlong;
    EXPECT_EQ(overlong.feed("GET /\xc0\xaf HTTP/1.1\r\n\r\n"), Status::malformed);
    RequestReader utf8;
    EXPECT_EQ(utf8.feed("GET /\xc5\xbe\xf0\x9f\x98\x80 HTTP/1.1\r\n\r\n"), Status::complete);
    EXPECT_EQ(utf8.request().path, QString::fromUtf8("/ž😀"));
}

TEST(RequestReader, ChunkedFeedingMatchesWholeParseAndStopsAtLimit)
{
    const QByteArray request = "POST /event?agent=cursor HTTP/1.1\r\nContent-Length: 11\r\nX-A: 1\r\n\r\nhello world";
    for (qsizetype chunk : {1, 2, 3, 5, 64}) {
        RequestReader reader;
        Status status = Status::needMore;
        for (qsizetype i = 0; i < request.size(); i += chunk) {
            ASSERT_EQ(status, Status::needMore);
            status = reader.feed(QByteArrayView(request).sliced(i, std::min(chunk, request.size() - i)));
        }
        ASSERT_EQ(status, Status::complete);
        EXPECT_EQ(reader.request().body, "hello world");
        EXPECT_EQ(reader.request().query.at("agent"), "cursor");
        EXPECT_EQ(reader.feed("more"), Status::complete);
    }

    RequestReader small(68);
    EXPECT_EQ(small.feed("POST / HTTP/1.1\r\nContent-Length: 30\r\n\r\n"), Status::tooLarge); // 39 + 30 > 68
    RequestReader exact(69);
    EXPECT_EQ(exact.feed("POST / HTTP/1.1\r\nContent-Length: 30\r\n\r\n"), Status::needMore);
    EXPECT_EQ(exact.feed(QByteArray(30, 'x')), Status::complete);
    // A head ending past the limit is too large whether or not it is well-formed, however split.
    const QByteArray lateBadHead = "GET /\xff" + QByteArray(70, 'a') + " HTTP/1.1\r\n\r\n";
    RequestReader whole(64);
    EXPECT_EQ(whole.feed(lateBadHead), Status::tooLarge);
    RequestReader split(64);
    EXPECT_EQ(split.feed(lateBadHead.left(40)), Status::needMore);
    EXPECT_EQ(split.feed(lateBadHead.mid(40)), Status::tooLarge);
    RequestReader endless(64);
    EXPECT_EQ(endless.feed(QByteArray(64, 'a')), Status::needMore);
    EXPECT_EQ(endless.feed("a"), Status::tooLarge);
}

} // namespace
