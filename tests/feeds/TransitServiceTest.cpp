#include "FeedsTestSupport.h"
#include "core/L10n.h"
#include "feeds/TransitParse.h"
#include "feeds/TransitService.h"
#include "core/Paths.h"
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QUrlQuery>

using namespace lomex;
using namespace lomex::test;
using Problem = TransitService::Problem;
using StopGroup = TransitService::StopGroup;

namespace {

StopGroup pragueStop() {
    return {QStringLiteral("Anděl"), QStringLiteral("Praha"), {"U1040Z1P", "U1040Z101P"}, {"9", "B"}, std::nullopt};
}

StopGroup transitousStop() {
    return {QStringLiteral("Brumovice"), std::nullopt, {}, {}, QStringLiteral("cz-jdf_T54621")};
}

} // namespace

class TransitTest : public FeedsTest {
protected:
    TransitTest() {
        server.route("GET", "/v2/pid/departureboards", json(fixture("golemio-departureboards.json")));
        server.route("GET", "/api/v1/stoptimes", json(fixture("transitous-stoptimes.json")));
    }
    void loaded() {
        ASSERT_TRUE(waitUntil([&] { return transit.updated().has_value() || transit.problem().has_value(); }));
    }
    TransitService transit{&clock, &Settings::shared()};
};

TEST_F(TransitTest, ProblemStatesWithoutLoading) {
    struct Case {
        const char* name;
        QString key;
        std::optional<StopGroup> stop;
        std::optional<QString> idos;
        std::optional<Problem> problem;
    };
    StopGroup noIds = pragueStop();
    noIds.gtfsIds.clear();
    const std::vector<Case> cases = {
        {"no key, no stop", "", std::nullopt, std::nullopt, Problem::noStop},
        {"blank key with a stop", "   ", pragueStop(), std::nullopt, Problem::noKey},
        {"key, no stop", "k", std::nullopt, std::nullopt, Problem::noStop},
        {"key, stop without ids", "k", noIds, std::nullopt, Problem::noStop},
        {"timetable name only", "", std::nullopt, QStringLiteral("Brumovice"), std::nullopt},
        {"key with a line break", "k\r\nX-Evil: 1", pragueStop(), std::nullopt, Problem::badKey},
    };
    for (const Case& c : cases) {
        settings().setString("golemioKey", c.key);
        transit.setIdosStop(c.idos);
        transit.setStop(c.stop);
        EXPECT_EQ(transit.problem(), c.problem) << c.name;
        EXPECT_TRUE(transit.departures().isEmpty()) << c.name;
    }
    EXPECT_TRUE(server.requests().isEmpty());
}

TEST_F(TransitTest, DepartureBoardSendsTheKeyOnlyInItsHeader) {
    settings().setString("golemioKey", "  secret-key-123 ");
    transit.setStop(pragueStop());
    loaded();
    ASSERT_EQ(transit.problem(), std::nullopt);
    const auto requests = server.requestsTo("/v2/pid/departureboards");
    ASSERT_EQ(requests.size(), 1);
    EXPECT_EQ(requests[0].headers.value("x-access-token"), "secret-key-123");
    EXPECT_FALSE(requests[0].url.toString(QUrl::FullyEncoded).contains("secret"));
    const QUrlQuery query(requests[0].url);
    EXPECT_TRUE(requests[0].url.query(QUrl::FullyEncoded).startsWith("ids%5B%5D=U1040Z1P&ids%5B%5D=U1040Z101P&"));
    EXPECT_EQ(query.queryItemValue("minutesAfter"), "120");
    EXPECT_EQ(*transit.updated(), clock.now());

    // Feed order, the entry without a line left out.
    const auto& d = transit.departures();
    ASSERT_EQ(d.size(), 4);
    EXPECT_EQ(d[0].line, "B");
    EXPECT_EQ(d[0].routeType, 1);
    EXPECT_EQ(d[0].headsign, QString::fromUtf8("Černý Most"));
    EXPECT_EQ(d[0].time, prague(10, 4, 30));
    EXPECT_EQ(d[0].delayMinutes, 1);
    EXPECT_EQ(d[0].platform, "1");
    EXPECT_TRUE(d[0].realTime);
    EXPECT_EQ(d[0].textColor(), QColor(Qt::black));
    EXPECT_TRUE(d[2].cancelled);
    EXPECT_FALSE(d[2].platform);
    EXPECT_FALSE(d[2].delayMinutes);
    EXPECT_TRUE(d[3].isNight);
    EXPECT_EQ(d[3].color(), QColor::fromRgbF(0.25f, 0.25f, 0.25f));
}

TEST_F(TransitTest, RefusedKeyAndFailedLoads) {
    settings().setString("golemioKey", "k");
    transit.setStop(pragueStop());
    loaded();
    ASSERT_EQ(transit.departures().size(), 4);
    for (int status : {401, 403}) {
        server.route("GET", "/v2/pid/departureboards", json("{\"error_message\":\"Unauthorized\"}", status));
        transit.refresh();
        ASSERT_TRUE(waitUntil([&] { return transit.problem() == Problem::badKey; })) << status;
        EXPECT_TRUE(transit.departures().isEmpty());
    }
    server.route("GET", "/v2/pid/departureboards", json(fixture("golemio-departureboards.json")));
    transit.refresh();
    ASSERT_TRUE(waitUntil([&] { return !transit.problem() && !transit.departures().isEmpty(); }));
    // A failure keeps the last good departures under the network problem.
    const std::vector<FakeHttpServer::Reply> failures = {json("oops", 500), json("{\"departures\":\"x\"}"),
                                                         FakeHttpServer::Reply{200, {}, {}, 0, true}};
    for (const auto& reply : failures) {
        server.route("GET", "/v2/pid/departureboards", reply);
        transit.refresh();
        ASSERT_TRUE(waitUntil([&] { return transit.problem() == Problem::network; }));
        EXPECT_EQ(transit.departures().size(), 4);
        server.route("GET", "/v2/pid/departureboards", json(fixture("golemio-departureboards.json")));
        transit.refresh();
        ASSERT_TRUE(waitUntil([&] { return !transit.problem(); }));
    }
}

TEST_F(TransitTest, RoutingServiceStopLoadsWithoutAKey) {
    transit.setStop(transitousStop());
    loaded();
    ASSERT_EQ(transit.problem(), std::nullopt);
    const auto requests = server.requestsTo("/api/v1/stoptimes");
    ASSERT_EQ(requests.size(), 1);
    EXPECT_EQ(QUrlQuery(requests[0].url).queryItemValue("stopId"), "cz-jdf_T54621");
    const auto& d = transit.departures();
    ASSERT_EQ(d.size(), 2);
    EXPECT_EQ(d[0].line, "550");
    EXPECT_EQ(d[0].routeType, 3);
    EXPECT_EQ(d[0].delayMinutes, 2);
    EXPECT_EQ(d[0].platform, "2");
    EXPECT_EQ(d[0].customColor, QColor(0x8b, 0x1a, 0x4a));
    EXPECT_EQ(d[1].routeType, 2);
    EXPECT_EQ(d[1].platform, "1");
    EXPECT_TRUE(d[1].cancelled);
    EXPECT_FALSE(d[1].delayMinutes) << "no live data, no delay";
}

TEST_F(TransitTest, ALateReplyForTheOldStopOrKeyIsDropped) {
    FakeHttpServer::Reply slowBoard = json(fixture("golemio-departureboards.json"));
    slowBoard.delayMs = 150;
    server.route("GET", "/v2/pid/departureboards", slowBoard);
    settings().setString("golemioKey", "old");
    http::Client* client = transit.client();

    // Another stop chosen while the board is loading.
    transit.setStop(pragueStop());
    transit.setStop(transitousStop());
    ASSERT_TRUE(waitUntil([&] { return client->finished() == 2; }));
    EXPECT_EQ(transit.departures().size(), 2) << "only the routing-service stop's departures";

    // The stop cleared while loading.
    transit.setStop(pragueStop());
    transit.setStop(std::nullopt);
    ASSERT_TRUE(waitUntil([&] { return client->finished() == 3; }));
    EXPECT_EQ(transit.problem(), Problem::noStop);
    EXPECT_TRUE(transit.departures().isEmpty());
    EXPECT_FALSE(transit.updated());

    // The key edited while loading: a refused old key says nothing about the new one.
    server.route("GET", "/v2/pid/departureboards", FakeHttpServer::Reply{401, "{}", {}, 150, false});
    transit.setStop(pragueStop());
    settings().setString("golemioKey", "new");
    ASSERT_TRUE(waitUntil([&] { return client->finished() == 4; }));
    EXPECT_NE(transit.problem(), Problem::badKey);
}

TEST_F(TransitTest, ATimedOutLoadIsANetworkProblem) {
    FakeHttpServer::Reply hang = json("{}");
    hang.delayMs = 60000;
    server.route("GET", "/api/v1/stoptimes", hang);
    transit.setStop(transitousStop());
    ASSERT_TRUE(waitUntil([&] { return server.requests().size() == 1; }));
    clock.advance(16);
    ASSERT_TRUE(waitUntil([&] { return transit.problem() == Problem::network; }));
}

TEST_F(TransitTest, TimeToLeaveFollowsTheClockAndTheLines) {
    settings().setString("golemioKey", "k");
    settings().setBool("leaveEnabled", true);
    settings().setInt("walkMinutes", 5);
    std::vector<QString> announced;
    transit.onLeaveNow = [&](const TransitService::Leave& l) { announced.push_back(l.line); };
    transit.setStop(pragueStop());
    loaded();

    // B leaves 10:04:30; its walk began 30 s ago, still within reach. The cancelled 176 never counts.
    ASSERT_TRUE(transit.leave());
    EXPECT_EQ(transit.leave()->line, "B");
    EXPECT_EQ(transit.leave()->leaveAt, prague(9, 59, 30));
    EXPECT_EQ(transit.leave()->textColor, QColor(Qt::black));
    EXPECT_EQ(announced, std::vector<QString>{"B"});

    settings().setString("leaveLines", "176, 9  98");
    EXPECT_EQ(transit.leave()->line, "9");
    EXPECT_EQ(transit.leave()->leaveAt, prague(10, 2));
    EXPECT_EQ(announced.size(), 1u) << "two minutes ahead: not yet";
    clock.advance(61);
    transit.updateLeave();
    EXPECT_EQ(announced, (std::vector<QString>{"B", "9"}));
    transit.updateLeave();
    EXPECT_EQ(announced.size(), 2u) << "once per departure";

    clock.set(prague(10, 3, 1)); // a minute past the time to leave for 9
    transit.updateLeave();
    EXPECT_EQ(transit.leave()->line, "98");

    settings().setInt("walkMinutes", 0);
    settings().setString("leaveLines", "176");
    EXPECT_FALSE(transit.leave());
    settings().setString("leaveLines", "");
    settings().setBool("leaveEnabled", false);
    EXPECT_FALSE(transit.leave());
}

// Live predictions move by seconds at each 15 s reload; the departure stays the same one, known
// by its trip, or without one by line, headsign and timetable time.
TEST_F(TransitTest, LeaveNowFiresOnceWhilePredictionsMove) {
    settings().setString("golemioKey", "k");
    settings().setBool("leaveEnabled", true);
    settings().setInt("walkMinutes", 5);
    for (const bool withTrip : {true, false}) {
        QByteArray board = fixture("golemio-departureboards.json");
        if (!withTrip) board.replace("\"id\":\"991_1543_251201\",", "");
        int announced = 0;
        transit.onLeaveNow = [&](const TransitService::Leave&) { ++announced; };
        clock.set(prague(9, 58, 30)); // within a minute of the time to leave for B, all along
        for (int reload = 0; reload < 8; ++reload) {
            QByteArray moved = board;
            moved.replace("\"departure_timestamp\":{\"predicted\":\"2026-03-02T10:04:30",
                          "\"departure_timestamp\":{\"predicted\":\"2026-03-02T10:04:" +
                              QByteArray::number(30 + (reload % 2 ? 7 : -reload)));
            server.route("GET", "/v2/pid/departureboards", json(moved));
            if (reload == 0) transit.setStop(pragueStop());
            else transit.refresh();
            ASSERT_TRUE(waitUntil([&] { return transit.updated() == clock.now(); })) << reload;
            ASSERT_TRUE(transit.leave());
            EXPECT_EQ(transit.leave()->line, "B");
            clock.advance(15);
        }
        EXPECT_EQ(announced, 1) << (withTrip ? "by trip" : "by line, headsign and timetable time");
        transit.setStop(std::nullopt);
    }
}

TEST_F(TransitTest, StopChoiceIsStoredAsJson) {
    transit.setStop(transitousStop());
    transit.setIdosStop(QStringLiteral("Brumovice"));
    TransitService again(&clock, &Settings::shared());
    EXPECT_EQ(again.stop(), transitousStop());
    EXPECT_EQ(again.idosStop(), "Brumovice");
    transit.setStop(std::nullopt);
    transit.setIdosStop(std::nullopt);
    EXPECT_FALSE(settings().isStored("pidStop"));
    EXPECT_FALSE(settings().isStored("idosStop"));
}

// A stop written into the settings file by hand while the app runs is taken up and loaded.
TEST_F(TransitTest, HandEditsOfTheStopAreFollowed) {
    QSignalSpy stops(&transit, &TransitService::stopChanged);
    settings().setValue("pidStop", transitousStop().toJson()); // as the file watcher reports it
    EXPECT_EQ(transit.stop(), transitousStop());
    EXPECT_EQ(stops.count(), 1);
    loaded();
    EXPECT_FALSE(transit.departures().isEmpty());
    settings().setString("idosStop", "Brumovice");
    EXPECT_EQ(transit.idosStop(), "Brumovice");
    settings().remove("pidStop");
    EXPECT_FALSE(transit.stop().has_value());
    EXPECT_TRUE(transit.departures().isEmpty());
    settings().setValue("pidStop", "not a stop");
    EXPECT_FALSE(transit.stop().has_value());
    EXPECT_EQ(stops.count(), 2);
}

class StopListTest : public TransitTest {
protected:
    QString cachePath() const { return paths::dataDir() + "/pid-stops.json"; }
    void writeCache(const QByteArray& bytes, double ageDays) {
        QDir().mkpath(paths::dataDir());
        QFile f(cachePath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        f.flush();
        f.setFileTime(clock.now().addSecs(qint64(-ageDays * 86400)), QFileDevice::FileModificationTime);
    }
    bool ensure() {
        bool done = false;
        transit.ensureStops([&] { done = true; });
        return waitUntil([&] { return done; });
    }
    QByteArray downloaded = fixture("pid-stops.json").replace("Náměstí Míru", "Náměstí Míru 2");
};

TEST_F(StopListTest, FreshCacheIsUsedWithoutARequest) {
    writeCache(fixture("pid-stops.json"), 6.9);
    ASSERT_TRUE(ensure());
    EXPECT_TRUE(transit.stopsLoaded());
    EXPECT_TRUE(server.requests().isEmpty());
}

TEST_F(StopListTest, OldMissingOrCorruptCacheIsLoadedAnewAndWrittenAfterParsing) {
    server.route("GET", "/stops/json/stops.json", json(downloaded));
    struct Case {
        const char* name;
        std::optional<QByteArray> cache;
        double ageDays;
    };
    const std::vector<Case> cases = {
        {"missing", std::nullopt, 0}, {"older than a week", fixture("pid-stops.json"), 7.1}, {"corrupt", QByteArray("{\"stopGroups\":[{"), 1}};
    for (const Case& c : cases) {
        QFile::remove(cachePath());
        if (c.cache) writeCache(*c.cache, c.ageDays);
        const qsizetype before = server.requests().size();
        TransitService fresh(&clock, &Settings::shared());
        bool done = false;
        fresh.ensureStops([&] { done = true; });
        ASSERT_TRUE(waitUntil([&] { return done; })) << c.name;
        EXPECT_EQ(server.requests().size(), before + 1) << c.name;
        EXPECT_TRUE(fresh.stopsLoaded()) << c.name;
        QFile f(cachePath());
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), downloaded) << c.name;
    }
}

TEST_F(StopListTest, AFailedDownloadWritesNothingAndLeavesTheListAsItWas) {
    for (auto reply : {json("{}", 503), json("<html>maintenance</html>")}) {
        server.route("GET", "/stops/json/stops.json", reply);
        ASSERT_TRUE(ensure());
        EXPECT_FALSE(transit.stopsLoaded());
        EXPECT_FALSE(QFile::exists(cachePath()));
    }
}

TEST_F(StopListTest, SearchFoldsAndPutsPrefixesFirst) {
    writeCache(fixture("pid-stops.json"), 1);
    EXPECT_TRUE(transit.search("an").isEmpty()) << "not loaded yet";
    ASSERT_TRUE(ensure());
    auto names = [&](const QString& q) {
        QStringList out;
        for (const auto& g : transit.search(q)) out << g.name;
        return out;
    };
    EXPECT_EQ(names("  nam "), QStringList({QString::fromUtf8("Náměstí Míru"), QString::fromUtf8("Náměšť"),
                                            QString::fromUtf8("Malostranské náměstí")}));
    EXPECT_EQ(names(QString::fromUtf8("ANDĚL")), QStringList{QString::fromUtf8("Anděl")});
    EXPECT_TRUE(names("a").isEmpty());
    const auto andel = transit.search("andel").value(0);
    EXPECT_EQ(andel.gtfsIds, QStringList({"U1040Z1P", "U1040Z101P", "U1040Z102P"}));
    EXPECT_EQ(andel.lines, QStringList({"9", "98", "B"}));
    EXPECT_EQ(andel.municipality, "Praha");
}

TEST_F(TransitTest, RoutingServiceSearchKeepsCzechStopsOnce) {
    server.route("GET", "/api/v1/geocode", json(fixture("transitous-geocode.json")));
    std::optional<QList<StopGroup>> found;
    std::optional<bool> reached;
    TransitService::searchTransitous(" B ", &transit, [&](QList<StopGroup> r, bool ok) { found = r; reached = ok; });
    ASSERT_TRUE(found);
    EXPECT_TRUE(found->isEmpty());
    EXPECT_TRUE(server.requests().isEmpty());

    found.reset();
    TransitService::searchTransitous(" Brum ", &transit, [&](QList<StopGroup> r, bool ok) { found = r; reached = ok; });
    ASSERT_TRUE(waitUntil([&] { return found.has_value(); }));
    const QUrlQuery q(server.requests().last().url);
    EXPECT_EQ(q.queryItemValue("text"), "Brum");
    EXPECT_EQ(q.queryItemValue("type"), "STOP");
    EXPECT_EQ(q.queryItemValue("language"), "cs");
    ASSERT_EQ(found->size(), 2);
    EXPECT_EQ((*found)[0].transitousId, "cz-jdf_T54621");
    EXPECT_EQ((*found)[0].municipality, QString::fromUtf8("Jihovýchod"));
    EXPECT_TRUE((*found)[0].gtfsIds.isEmpty());
    EXPECT_FALSE((*found)[1].municipality);
    EXPECT_TRUE(*reached);

    server.route("GET", "/api/v1/geocode", json("not json"));
    found.reset();
    TransitService::searchTransitous("Brum", &transit, [&](QList<StopGroup> r, bool ok) { found = r; reached = ok; });
    ASSERT_TRUE(waitUntil([&] { return found.has_value(); }));
    EXPECT_TRUE(found->isEmpty());
    EXPECT_FALSE(*reached) << "a reply that is not the geocoder's is no answer";
}

TEST_F(TransitTest, TimetableLinkByRegionAndLanguage) {
    const std::vector<std::pair<std::optional<const char*>, const char*>> cases = {
        {"Moravskoslezský kraj", "odis"},      {"Jihomoravský kraj", "idsjmk"},
        {"LIBERECKÝ KRAJ", "idol"},            {"Hlavní město Praha", "pid"},
        {"Středočeský kraj", "pid"},           {"Zlínský kraj", "vlakyautobusymhdvse"},
        {std::nullopt, "vlakyautobusymhdvse"},
    };
    for (const auto& [region, code] : cases) {
        nlohmann::json place = {{"name", "X"}, {"lat", 50.0}, {"lon", 14.0}};
        if (region) place["admin1"] = *region;
        settings().setValue("weatherPlace", place);
        const auto url = TransitService::idosURL(QString::fromUtf8("Hlavní nádraží & spol."));
        ASSERT_TRUE(url);
        EXPECT_EQ(url->path(), QString("/%1/odjezdy/").arg(code)) << (region ? *region : "none");
        EXPECT_EQ(url->query(QUrl::FullyEncoded), "f=Hlavn%C3%AD%20n%C3%A1dra%C5%BE%C3%AD%20%26%20spol.&submit=true&lng=E");
    }
    L10n::shared().setLanguage(AppLanguage::cs);
    EXPECT_TRUE(TransitService::idosURL("Brno")->query().endsWith("lng=C"));
    EXPECT_FALSE(TransitService::idosURL("   "));
    EXPECT_EQ(TransitService::sourcesURL().scheme(), "https");
}
