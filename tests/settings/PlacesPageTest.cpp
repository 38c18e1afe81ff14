#include "feeds/FeedsTestSupport.h"
#include "core/L10n.h"
#include "platform/Workspace.h"
#include "settings/blocks/Blocks.h"
#include "settings/pages/PlacesPage.h"
#include "settings/pages/StopSearch.h"
#include "FakeWorkspace.h"
#include "feeds/Http.h"
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QApplication>
#include <QToolButton>
#include <QUrlQuery>
#include <QtTest/QTest>

using namespace lomex;
using namespace lomex::test;
using StopGroup = TransitService::StopGroup;

namespace {

class PlacesPageTest : public FeedsTest {
protected:
    PlacesPageTest() {
        Workspace::setCurrent(&workspace);
        // The geocoder answers with one stop named after the text it was asked.
        server.route("GET", "/api/v1/geocode", [](const FakeHttpServer::Request& r) {
            const QString text = QUrlQuery(r.url).queryItemValue("text", QUrl::FullyDecoded);
            if (text.startsWith("zz")) return json("[]");
            const nlohmann::json body = {{{"type", "STOP"}, {"name", text.toStdString()}, {"id", "cz-" + text.toStdString()},
                                          {"areas", nlohmann::json::array()}}};
            return json(QByteArray::fromStdString(body.dump()));
        });
        server.route("GET", "/stops/json/stops.json", json(fixture("pid-stops.json")));
    }
    ~PlacesPageTest() override { Workspace::setCurrent(nullptr); }

    QList<QString> shownNames() const {
        QList<QString> out;
        for (const auto& s : page.stopSearch()->shown()) out << s.name;
        return out;
    }
    int geocodes() const { return server.requestsTo("/api/v1/geocode").size(); }
    void type(const QString& text) { page.stopField()->setText(text); }
    bool showsNoMatch() const { return page.findChild<QWidget*>("noMatch")->isVisibleTo(&page); }
    bool spinning() const { return page.findChild<QProgressBar*>()->isVisibleTo(&page); }

    FakeWorkspace workspace;
    WeatherService weather{&clock, &Settings::shared()};
    TransitService transit{&clock, &Settings::shared()};
    PlacesPage page{&weather, &transit, &clock};
};

} // namespace

TEST_F(PlacesPageTest, StopSearchWaitsForTheLastKeystrokeAndSendsOneRequest) {
    type("B");
    clock.advance(1);
    EXPECT_EQ(geocodes(), 0) << "one character asks nothing";
    EXPECT_FALSE(spinning());
    EXPECT_FALSE(showsNoMatch());

    for (const QString text : {"Br", "Bru", "Brum", "Brumo"}) {
        type(text);
        clock.advance(0.2);
    }
    EXPECT_EQ(page.stopSearch()->requestsStarted(), 0);
    clock.advance(0.15);
    EXPECT_TRUE(spinning());
    ASSERT_TRUE(waitUntil([&] { return !page.stopSearch()->searching(); }));
    EXPECT_EQ(geocodes(), 1);
    EXPECT_EQ(QUrlQuery(server.requestsTo("/api/v1/geocode")[0].url).queryItemValue("text"), "Brumo");
    EXPECT_EQ(shownNames(), QList<QString>{"Brumo"});
    EXPECT_FALSE(spinning());
}

TEST_F(PlacesPageTest, AnAnswerForAnOlderTextNeverShows) {
    const int answered = http::Client::shared().finished();
    type("zzz"); // answers with nothing
    clock.advance(0.35);
    ASSERT_TRUE(page.stopSearch()->searching());
    type("Anděl"); // changed while the first request runs
    ASSERT_TRUE(waitUntil([&] { return http::Client::shared().finished() == answered + 1; }))
        << "the first answer has arrived and been dropped";
    EXPECT_EQ(geocodes(), 1);
    EXPECT_TRUE(page.stopSearch()->results().isEmpty());
    EXPECT_FALSE(showsNoMatch()) << "the empty answer was for \"zzz\", not for the text on screen";
    clock.advance(0.35);
    ASSERT_TRUE(waitUntil([&] { return !page.stopSearch()->results().isEmpty(); }));
    EXPECT_EQ(shownNames(), QList<QString>{"Anděl"});

    type("zz");
    EXPECT_FALSE(showsNoMatch()) << "not before its own search has answered";
    clock.advance(0.35);
    ASSERT_TRUE(waitUntil([&] { return !page.stopSearch()->searching(); }));
    EXPECT_TRUE(showsNoMatch());
    page.findChild<QPushButton*>("tryIdos")->click();
    ASSERT_EQ(workspace.opened.size(), 1);
    EXPECT_EQ(workspace.opened[0], *TransitService::idosURL("zz"));
}

TEST_F(PlacesPageTest, WithAKeyPragueStopsComeFirst) {
    type("an");
    clock.advance(0.35);
    ASSERT_TRUE(waitUntil([&] { return !page.stopSearch()->searching(); }));
    EXPECT_TRUE(server.requestsTo("/stops/json/stops.json").isEmpty()) << "no key: the Prague list is not loaded";
    EXPECT_EQ(shownNames(), QList<QString>{"an"});

    settings().setString("golemioKey", "k");
    type("and");
    clock.advance(0.35);
    ASSERT_TRUE(waitUntil([&] { return !page.stopSearch()->searching() && transit.stopsLoaded(); }));
    const auto shown = page.stopSearch()->shown();
    ASSERT_GE(shown.size(), 2);
    EXPECT_EQ(shown.first().name, "Anděl");
    EXPECT_FALSE(shown.first().transitousId);
    EXPECT_EQ(shown.last().transitousId, QString("cz-and"));
    EXPECT_LE(page.stopSearch()->localResults().size(), StopSearch::maxLocal);
}

TEST_F(PlacesPageTest, ChoosingAndClearingAStop) {
    transit.setIdosStop(QStringLiteral("Brumovice"));
    auto stopName = [&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); // the row's old trailing part
        return page.findChild<QLabel*>("stopName");
    };
    EXPECT_EQ(stopName()->text(), "Brumovice");
    EXPECT_EQ(PlacesPage::stopDetail(transit), L10n::shared().t("idos.detail"));

    type("Hustopeče");
    clock.advance(0.35);
    ASSERT_TRUE(waitUntil([&] { return !page.stopSearch()->results().isEmpty(); }));
    QPushButton* result = nullptr;
    for (auto* b : page.findChildren<QPushButton*>())
        if (b->accessibleName() == "Hustopeče") result = b;
    ASSERT_TRUE(result);
    result->click();
    EXPECT_EQ(transit.stop()->transitousId, QString("cz-Hustopeče"));
    EXPECT_FALSE(transit.idosStop());
    EXPECT_TRUE(page.stopField()->text().isEmpty());
    EXPECT_TRUE(page.stopSearch()->shown().isEmpty());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(stopName()->text(), "Hustopeče");
    EXPECT_EQ(PlacesPage::stopDetail(transit), "Transitous");
    transit.setStop(StopGroup{"Anděl", QStringLiteral("Praha"), {"U1"}, {}, std::nullopt});
    EXPECT_EQ(PlacesPage::stopDetail(transit), "Praha · PID · Golemio");

    EXPECT_EQ(page.findChild<QToolButton*>("clearStop")->accessibleName(), "Clear the chosen stop");
    EXPECT_EQ(page.stopField()->accessibleName(), "Stop");
    page.findChild<QToolButton*>("clearStop")->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(transit.stop());
    EXPECT_EQ(stopName()->text(), "not selected");
    EXPECT_TRUE(PlacesPage::stopDetail(transit).isEmpty());
}

// Clearing the stop from the keyboard leaves the focus in the search field.
TEST_F(PlacesPageTest, ClearingTheStopFromTheKeyboardFocusesTheSearch) {
    transit.setIdosStop(QStringLiteral("Brumovice"));
    page.show();
    page.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&page));
    auto* clear = page.findChild<QToolButton*>("clearStop");
    ASSERT_TRUE(clear);
    clear->setFocus(Qt::TabFocusReason);
    QTest::keyClick(clear, Qt::Key_Space);
    EXPECT_FALSE(transit.idosStop());
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(QApplication::focusWidget(), page.stopField());
}

TEST_F(PlacesPageTest, DebugQueryFillsTheSearch) {
    transit.setDebugQuery(QStringLiteral("Anděl"));
    EXPECT_EQ(page.stopField()->text(), "Anděl");
    clock.advance(0.35);
    EXPECT_TRUE(waitUntil([&] { return geocodes() == 1; }));
    PlacesPage second(&weather, &transit, &clock);
    EXPECT_EQ(second.stopField()->text(), "Anděl") << "a page shown later takes the query too";
}

TEST_F(PlacesPageTest, OnlyTheLatestPlaceSearchShows) {
    server.route("GET", "/v1/search", [](const FakeHttpServer::Request& r) {
        const QString name = QUrlQuery(r.url).queryItemValue("name", QUrl::FullyDecoded);
        FakeHttpServer::Reply reply = json(fixture("openmeteo-search.json"));
        if (name == "Brn") reply.delayMs = 300; // the older answer arrives last
        reply.body.replace("\"Brno\"", "\"" + name.toUtf8() + "\"");
        return reply;
    });
    const int answered = http::Client::shared().finished();
    page.placeField()->setText("Brn");
    page.placeField()->returnPressed();
    page.placeField()->setText("Brno");
    page.placeField()->returnPressed();
    ASSERT_TRUE(waitUntil([&] { return http::Client::shared().finished() == answered + 2; }))
        << "both answers have arrived, the older one last";
    ASSERT_FALSE(page.placeResults().isEmpty());
    EXPECT_EQ(page.placeResults().first().name, "Brno");

    QPushButton* first = nullptr;
    for (auto* b : page.findChildren<QPushButton*>())
        if (b->accessibleName() == "Brno" && !first) first = b;
    ASSERT_TRUE(first);
    first->click();
    EXPECT_EQ(weather.place()->name, "Brno");
    EXPECT_TRUE(page.placeResults().isEmpty());
    EXPECT_TRUE(page.placeField()->text().isEmpty());
}

TEST_F(PlacesPageTest, RowsFollowTheirSettingsAndTheFeed) {
    auto visible = [&](const char* name) {
        auto* w = page.findChild<QWidget*>(name);
        return w && w->isVisibleTo(&page);
    };
    auto rowTitled = [&](const QString& title) -> QWidget* {
        for (auto* r : page.findChildren<Row*>())
            if (r->titleLabel()->text() == title) return r;
        return nullptr;
    };
    EXPECT_FALSE(rowTitled("Walk to the stop")->isVisibleTo(&page));
    settings().setBool("leaveEnabled", true);
    EXPECT_TRUE(rowTitled("Walk to the stop")->isVisibleTo(&page));
    EXPECT_TRUE(rowTitled("Only lines")->isVisibleTo(&page));

    // "No warnings" only after a load that worked; a failed load says so.
    page.show(); // the warnings are loaded while their line is on screen
    EXPECT_FALSE(visible("chmiNone"));
    const QString listing = "/meteorology/weather/alerts/cap/";
    server.route("GET", "/v1/forecast", json(fixture("openmeteo-forecast.json")));
    server.route("GET", listing, FakeHttpServer::Reply{503, "busy", {}});
    weather.setPlace(WeatherService::Place{"Liberec", QStringLiteral("Liberecký kraj"), std::nullopt, 50.77, 15.06});
    ASSERT_TRUE(waitUntil([&] { return visible("chmiFailed"); }));
    EXPECT_FALSE(visible("chmiNone"));
    server.route("GET", listing, FakeHttpServer::Reply{200, fixture("chmi-listing.html"), {}});
    server.route("GET", listing + "alert_cap_50_20260302073000.xml", FakeHttpServer::Reply{200, fixture("cap-current.xml"), {}});
    weather.refresh();
    ASSERT_TRUE(waitUntil([&] { return visible("chmiNone"); }));
    settings().setBool("chmiEnabled", false);
    EXPECT_FALSE(page.findChild<QWidget*>("chmiNone"));

    EXPECT_FALSE(visible("badKey"));
    server.route("GET", "/v2/pid/departureboards", json("{}", 403));
    transit.setStop(StopGroup{"Anděl", QStringLiteral("Praha"), {"U1"}, {}, std::nullopt});
    page.findChild<QLineEdit*>("keyField")->setText("bad");
    page.findChild<QLineEdit*>("keyField")->textEdited("bad");
    ASSERT_TRUE(waitUntil([&] { return transit.problem() == TransitService::Problem::badKey; }));
    EXPECT_TRUE(visible("badKey"));

    page.findChild<QPushButton*>("getKey")->click();
    ASSERT_EQ(workspace.opened.size(), 1);
    EXPECT_EQ(workspace.opened[0].path(), "/api-keys/");
}

// Offline, both searches say the service could not be reached, never "nothing found"; a real
// empty answer still says that nothing matched. The page asks for warnings only, never the
// forecast, and the weather switch is shown as not in this version.
TEST_F(PlacesPageTest, OfflineSearchesSaySoApartFromAnEmptyAnswer) {
    const QString listing = "/meteorology/weather/alerts/cap/";
    server.route("GET", listing, FakeHttpServer::Reply{200, "", {{"Content-Type", "text/html"}}});
    server.route("GET", "/v1/search", json("{\"generationtime_ms\":0.3}"));
    weather.setPlace(WeatherService::Place{"Liberec", QStringLiteral("Liberecký kraj"), std::nullopt, 50.77, 15.06});
    QTest::qWait(50);
    EXPECT_TRUE(server.requestsTo(listing).isEmpty()) << "the page is not on screen yet";
    page.show();
    ASSERT_TRUE(waitUntil([&] { return server.requestsTo(listing).size() == 1; }));
    page.hide();
    clock.advance(901);
    QTest::qWait(50);
    EXPECT_EQ(server.requestsTo(listing).size(), 1) << "closed: nothing more";
    page.show();
    EXPECT_TRUE(server.requestsTo("/v1/forecast").isEmpty());
    EXPECT_FALSE(page.findChild<QWidget*>("weatherEnabled")->isEnabled());

    auto* placeStatus = page.findChild<QLabel*>("placeStatus");
    auto* stopText = page.findChild<QLabel*>("noMatchText");
    const int before = http::Client::shared().finished();
    page.placeField()->setText("Xyzzy");
    page.placeField()->returnPressed();
    ASSERT_TRUE(waitUntil([&] { return http::Client::shared().finished() == before + 1; }));
    EXPECT_TRUE(placeStatus->isVisibleTo(&page));
    EXPECT_EQ(placeStatus->text(), "No such place.");
    type("zzz");
    clock.advance(0.4);
    ASSERT_TRUE(waitUntil([&] { return showsNoMatch(); }));
    EXPECT_EQ(stopText->text(), "Nothing found.");

    // The network goes away: both services unreachable.
    endpoints::setOverride(endpoints::Service::geocoding, QUrl("http://127.0.0.1:9"));
    endpoints::setOverride(endpoints::Service::transitous, QUrl("http://127.0.0.1:9"));
    for (AppLanguage language : {AppLanguage::en, AppLanguage::cs}) {
        L10n::shared().setLanguage(language);
        const int asked = http::Client::shared().finished();
        page.placeField()->setText(language == AppLanguage::en ? "Brno" : "Plzen");
        page.placeField()->returnPressed();
        ASSERT_TRUE(waitUntil([&] { return http::Client::shared().finished() == asked + 1; }));
        EXPECT_EQ(placeStatus->text(), L10n::shared().t("places.unreachable"));
        EXPECT_TRUE(placeStatus->isVisibleTo(&page));
        type(language == AppLanguage::en ? "Brumov" : "Anděl");
        clock.advance(0.4);
        ASSERT_TRUE(waitUntil([&] { return page.stopSearch()->showsUnreachable(); }));
        EXPECT_TRUE(showsNoMatch());
        EXPECT_EQ(stopText->text(), L10n::shared().t("dep.unreachable"));
        EXPECT_NE(stopText->text(), L10n::shared().t("dep.noMatch"));
        EXPECT_FALSE(page.findChild<QPushButton*>("tryIdos")->isVisibleTo(&page));
    }
}
