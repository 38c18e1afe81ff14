#include "FeedsTestSupport.h"
#include "core/L10n.h"
#include "feeds/CapWarnings.h"
#include "feeds/WeatherService.h"
#include <QTest>
#include <QUrlQuery>

using namespace lomex;
using namespace lomex::test;
using Place = WeatherService::Place;
using State = WeatherService::WarningsState;

namespace {
const QString kListing = "/meteorology/weather/alerts/cap/";
const QString kNewest = kListing + "alert_cap_50_20260302073000.xml";

Place brno() { return {"Brno", QString::fromUtf8("Jihomoravský kraj"), QString::fromUtf8("Brno-město"), 49.19522, 16.60796}; }
} // namespace

TEST(WeatherPlace, SubtitleIdentityAndStoredForm) {
    const std::vector<std::tuple<std::optional<QString>, std::optional<QString>, QString>> cases = {
        {"Kraj", "Okres", "Okres, Kraj"}, {"Praha", "Praha", "Praha"}, {"Kraj", std::nullopt, "Kraj"},
        {std::nullopt, "Okres", "Okres"}, {std::nullopt, std::nullopt, ""}, {"", "", ""},
    };
    for (const auto& [admin1, admin2, subtitle] : cases)
        EXPECT_EQ((Place{"X", admin1, admin2, 1, 2}.subtitle()), subtitle);
    EXPECT_EQ(brno().identity(), "Brno|49.1952|16.608");
    EXPECT_EQ(Place::fromJson(brno().toJson()), brno());
    EXPECT_FALSE(Place::fromJson({{"name", "X"}, {"lat", 91}, {"lon", 0}}));
    EXPECT_FALSE(Place::fromJson({{"name", "X"}, {"lat", "50"}, {"lon", 0}}));
}

TEST(CapWarnings, RegionMatch) {
    const std::vector<std::tuple<const char*, const char*, bool>> cases = {
        {"Jihomoravský kraj (Blansko, Brno)", "Jihomoravský kraj", true},
        {"Jihomoravský kraj", "South Moravian", true},
        {"JIHOMORAVSKY KRAJ", "jihomoravský kraj", true},
        {"Hlavní město Praha", "Prague", true},
        {"Praha", "Hlavní město Praha", true},
        {"Kraj Vysočina (Jihlava, Třebíč)", "Vysočina", true},
        {"Moravskoslezský kraj", "Moravian-Silesian", true},
        {"Středočeský kraj (Kladno)", "Central Bohemia", true},
        {"Zlínský kraj", "Jihomoravský kraj", false},
        {"Středočeský kraj (Praha-východ)", "Hlavní město Praha", false},
        {"Jihomoravský kraj", "", false},
        {"", "", false},
    };
    for (const auto& [area, admin1, match] : cases)
        EXPECT_EQ(capwarnings::regionMatches(QString::fromUtf8(area), QString::fromUtf8(admin1)), match) << area << " / " << admin1;
}

TEST(CapWarnings, NewestFileOfEachSeriesOnTheSameHostOnly) {
    const QUrl listing("http://127.0.0.1:8080/meteorology/weather/alerts/cap/");
    const auto files = capwarnings::pickFiles(fixture("chmi-listing.html"), listing);
    ASSERT_EQ(files.size(), 1);
    EXPECT_EQ(files[0].toString(), "http://127.0.0.1:8080" + kNewest);
    EXPECT_TRUE(capwarnings::pickFiles("<a href=\"https://evil.example/x.xml\">x</a>", listing).isEmpty());
    EXPECT_FALSE(capwarnings::parse("<html/>"));
    EXPECT_FALSE(capwarnings::parse("<alert><info><event>x</alert>"));
}

// The listing's dates decide where they are given, also when every link shares one line; a date
// is never taken from another link's entry.
TEST(CapWarnings, ListingDatesDecideOverNames) {
    const QUrl listing("http://127.0.0.1:8080/cap/");
    const QByteArray lines = "<a href=\"alert_cap_50_2.xml\">alert_cap_50_2.xml</a>   01-Mar-2026 18:30   41K\n"
                             "<a href=\"alert_cap_50_1.xml\">alert_cap_50_1.xml</a>   02-Mar-2026 07:30   52K\n";
    ASSERT_EQ(capwarnings::pickFiles(lines, listing).size(), 1);
    EXPECT_EQ(capwarnings::pickFiles(lines, listing)[0].path(), "/cap/alert_cap_50_1.xml");
    const QByteArray oneLine = "<a href=\"alert_cap_50_2.xml\">a</a> <a href=\"alert_cap_51_1.xml\">b</a> 2026-03-02 07:30 "
                               "<a href=\"alert_cap_50_1.xml\">c</a> 2026-03-02 08:00";
    const auto files = capwarnings::pickFiles(oneLine, listing);
    ASSERT_EQ(files.size(), 2) << "no link is skipped";
    EXPECT_EQ(files[0].path(), "/cap/alert_cap_50_2.xml") << "undated: the later name stands";
    EXPECT_EQ(files[1].path(), "/cap/alert_cap_51_1.xml");
}

TEST(CapWarnings, LevelTwoAndUpForTheRegionStillValid) {
    const QDateTime now = QDateTime::fromString("2026-03-02T10:00:00+01:00", Qt::ISODate);
    const QList<QByteArray> files{fixture("cap-current.xml")};
    const auto cs = capwarnings::warningsFor(files, QString::fromUtf8("Jihomoravský kraj"), true, now);
    ASSERT_EQ(cs.size(), 2) << "no level 1, no all-clear, no expired block";
    EXPECT_EQ(cs[0].event, QString::fromUtf8("Silný vítr"));
    EXPECT_EQ(cs[0].level, 2);
    EXPECT_EQ(cs[0].area, QString::fromUtf8("Jihomoravský kraj (Blansko, Boskovice, Brno, Hodonín, Kyjov)"));
    EXPECT_EQ(cs[0].expires, QDateTime::fromString("2026-03-02T21:00:00+01:00", Qt::ISODate));
    EXPECT_EQ(cs[0].instruction, QString::fromUtf8("Zabezpečte volně uložené předměty."));
    EXPECT_EQ(cs[1].event, QString::fromUtf8("Sněhové jazyky"));
    EXPECT_EQ(cs[1].level, 3);
    EXPECT_EQ(cs[1].area, QString::fromUtf8("Jihomoravský kraj (Blansko)"));

    const auto en = capwarnings::warningsFor(files, "South Moravian", false, now);
    ASSERT_EQ(en.size(), 2);
    EXPECT_EQ(en[0].event, "Strong wind");
    EXPECT_EQ(en[1].event, QString::fromUtf8("Sněhové jazyky")) << "no English twin: the Czech block";

    const auto prague = capwarnings::warningsFor(files, "Prague", true, now);
    ASSERT_EQ(prague.size(), 1);
    EXPECT_EQ(prague[0].level, 4) << "severity stands in for a missing awareness level";
    EXPECT_TRUE(capwarnings::warningsFor(files, QString::fromUtf8("Jihomoravský kraj"), true, now.addDays(2)).isEmpty());
}

class WeatherTest : public FeedsTest {
protected:
    WeatherTest() {
        server.route("GET", "/v1/forecast", json(fixture("openmeteo-forecast.json")));
        server.route("GET", kListing, FakeHttpServer::Reply{200, fixture("chmi-listing.html"), {{"Content-Type", "text/html"}}});
        server.route("GET", kNewest, FakeHttpServer::Reply{200, fixture("cap-current.xml"), {{"Content-Type", "application/xml"}}});
        // A view of each feed, as the cases below read both.
        weather.watch(&viewer, WeatherService::Feed::current);
        weather.watch(&viewer, WeatherService::Feed::warnings);
    }
    WeatherService weather{&clock, &Settings::shared()};
    QObject viewer;
};

// The forecast goes out with the user's coordinates: nothing is asked for that no view shows,
// neither at start nor at the 15-minute tick; the warnings only while their line is on screen.
TEST_F(FeedsTest, NothingIsFetchedThatNoViewShows) {
    server.route("GET", "/v1/forecast", json(fixture("openmeteo-forecast.json")));
    server.route("GET", kListing, FakeHttpServer::Reply{200, "", {{"Content-Type", "text/html"}}});
    WeatherService weather{&clock, &Settings::shared()};
    weather.setPlace(brno());
    weather.start();
    clock.advance(901);
    clock.advance(901);
    QTest::qWait(100);
    EXPECT_EQ(server.requests().size(), 0);
    EXPECT_EQ(weather.client()->started(), 0);

    {
        QObject page;
        weather.watch(&page, WeatherService::Feed::warnings);
        ASSERT_TRUE(waitUntil([&] { return weather.warningsState() == State::loaded; }));
        EXPECT_EQ(server.requestsTo(kListing).size(), 1);
        clock.advance(901);
        ASSERT_TRUE(waitUntil([&] { return server.requestsTo(kListing).size() == 2; }));
        QObject second; // another view while one is open asks nothing more
        weather.watch(&second, WeatherService::Feed::warnings);
    }
    clock.advance(901);
    QTest::qWait(100);
    EXPECT_EQ(server.requestsTo(kListing).size(), 2) << "the page closed: no more loads";
    EXPECT_TRUE(server.requestsTo("/v1/forecast").isEmpty());
    EXPECT_FALSE(weather.watched(WeatherService::Feed::warnings));
}

TEST_F(WeatherTest, PlaceIsStoredAndBothFeedsLoad) {
    weather.setPlace(brno());
    EXPECT_EQ(Place::fromJson(*settings().data("weatherPlace")), brno());
    ASSERT_TRUE(waitUntil([&] { return weather.current() && weather.warningsState() == State::loaded; }));
    EXPECT_DOUBLE_EQ(weather.current()->temperature, 4.3);
    EXPECT_EQ(weather.current()->weatherCode, 3);
    const QUrlQuery q(server.requestsTo("/v1/forecast").value(0).url);
    EXPECT_EQ(q.queryItemValue("latitude"), "49.1952");
    EXPECT_EQ(q.queryItemValue("longitude"), "16.6080");
    EXPECT_EQ(weather.warnings().size(), 2);
    EXPECT_EQ(server.requestsTo(kNewest).size(), 1);
    EXPECT_EQ(server.requests().size(), 3) << "forecast, listing, one CAP file";
}

TEST_F(WeatherTest, SwitchesClearWhatTheyTurnOff) {
    weather.setPlace(brno());
    ASSERT_TRUE(waitUntil([&] { return weather.current() && weather.warningsState() == State::loaded; }));
    settings().setBool("chmiEnabled", false);
    weather.refresh();
    EXPECT_EQ(weather.warningsState(), State::off);
    EXPECT_TRUE(weather.warnings().isEmpty());
    settings().setBool("weatherEnabled", false);
    const qsizetype before = server.requests().size();
    weather.refresh();
    EXPECT_FALSE(weather.current());
    EXPECT_EQ(server.requests().size(), before);
}

TEST_F(WeatherTest, NoWarningsOnlyAfterASuccessfulLoad) {
    Place plzen{QString::fromUtf8("Plzeň"), QString::fromUtf8("Plzeňský kraj"), std::nullopt, 49.74, 13.37};
    EXPECT_EQ(weather.warningsState(), State::notLoaded);
    weather.setPlace(plzen);
    ASSERT_TRUE(waitUntil([&] { return weather.warningsState() == State::loaded; }));
    EXPECT_TRUE(weather.warnings().isEmpty());

    weather.setPlace(brno());
    ASSERT_TRUE(waitUntil([&] { return weather.warnings().size() == 2; }));
    // The listing fails, then a CAP file fails: the last known warnings stay, marked as failed.
    server.route("GET", kListing, FakeHttpServer::Reply{503, "down", {}});
    weather.refresh();
    ASSERT_TRUE(waitUntil([&] { return weather.warningsState() == State::failed; }));
    EXPECT_EQ(weather.warnings().size(), 2);
    server.route("GET", kListing, FakeHttpServer::Reply{200, fixture("chmi-listing.html"), {}});
    server.route("GET", kNewest, FakeHttpServer::Reply{200, "<alert><info>", {}});
    weather.setPlace(plzen);
    ASSERT_TRUE(waitUntil([&] { return weather.warningsState() == State::failed; }));
    EXPECT_TRUE(weather.warnings().isEmpty()) << "a new place starts without the old place's warnings";
}

TEST_F(WeatherTest, ALateForecastForTheOldPlaceIsDropped) {
    // Brno's answer is slow, Prague's quick.
    server.route("GET", "/v1/forecast", [](const FakeHttpServer::Request& r) {
        if (QUrlQuery(r.url).queryItemValue("latitude") == "49.1952") {
            FakeHttpServer::Reply slow = json(fixture("openmeteo-forecast.json"));
            slow.delayMs = 150;
            return slow;
        }
        return json("{\"current\":{\"temperature_2m\":-2.5}}");
    });
    settings().setBool("chmiEnabled", false);
    weather.setPlace(brno());
    weather.setPlace(Place{"Praha", std::nullopt, std::nullopt, 50.08, 14.42});
    ASSERT_TRUE(waitUntil([&] { return weather.client()->finished() == 2; }));
    ASSERT_TRUE(weather.current());
    EXPECT_DOUBLE_EQ(weather.current()->temperature, -2.5);
}

TEST_F(WeatherTest, PlaceSearch) {
    server.route("GET", "/v1/search", json(fixture("openmeteo-search.json")));
    std::optional<QList<Place>> found;
    std::optional<bool> reached;
    WeatherService::search("Brno", true, &weather, [&](QList<Place> p, bool r) { found = p; reached = r; });
    ASSERT_TRUE(waitUntil([&] { return found.has_value(); }));
    const QUrlQuery q(server.requests().last().url);
    EXPECT_EQ(q.queryItemValue("count"), "8");
    EXPECT_EQ(q.queryItemValue("language"), "cs");
    ASSERT_EQ(found->size(), 2) << "the result without coordinates is left out";
    EXPECT_EQ((*found)[0], brno());
    EXPECT_EQ((*found)[1].subtitle(), QString::fromUtf8("Pardubický kraj"));
    EXPECT_TRUE(*reached);

    server.route("GET", "/v1/search", json("{\"error\":true}", 400));
    found.reset();
    WeatherService::search("", false, &weather, [&](QList<Place> p, bool r) { found = p; reached = r; });
    ASSERT_TRUE(waitUntil([&] { return found.has_value(); }));
    EXPECT_EQ(QUrlQuery(server.requests().last().url).queryItemValue("language"), "en");
    EXPECT_TRUE(found->isEmpty());
    EXPECT_FALSE(*reached) << "an error status is no answer";

    // A real empty answer (the geocoder leaves "results" out) is one.
    server.route("GET", "/v1/search", json("{\"generationtime_ms\":0.5}"));
    found.reset();
    WeatherService::search("Xyzzy", false, &weather, [&](QList<Place> p, bool r) { found = p; reached = r; });
    ASSERT_TRUE(waitUntil([&] { return found.has_value(); }));
    EXPECT_TRUE(found->isEmpty());
    EXPECT_TRUE(*reached);
}
