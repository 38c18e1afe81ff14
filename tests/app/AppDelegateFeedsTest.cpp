#include "FakeHttpServer.h"
#include "QStringPrint.h"
#include "TestEnv.h"
#include "app/AppDelegate.h"
#include "notch/LiveActivity.h"
#include "core/Clock.h"
#include "core/Settings.h"
#include "feeds/Endpoints.h"
#include "feeds/TransitService.h"
#include "feeds/UpdateChecker.h"
#include "feeds/WeatherService.h"
#include "platform/Screens.h"
#include "FakeClock.h"
#include "FakeScreens.h"
#include <QFile>
#include <memory>

using namespace lomex;

namespace {

class AppDelegateFeedsTest : public test::LomexTest {
protected:
    void SetUp() override {
        screens.setScreens({ScreenInfo{"only", QRect(0, 0, 1920, 1080), true, false}});
        ASSERT_TRUE(server.listen());
        endpoints::setOverride(endpoints::Service::transitous, QUrl(server.baseUrl()));
    }
    void TearDown() override {
        app.reset();
        endpoints::clearOverrides();
    }
    void launch() {
        app = std::make_unique<AppDelegate>(&clock, &screens);
        app->applicationDidFinishLaunching();
    }

    FakeClock clock; // 2026-03-02 09:00 UTC
    FakeScreens screens;
    test::FakeHttpServer server;
    std::unique_ptr<AppDelegate> app;
};

} // namespace

TEST_F(AppDelegateFeedsTest, OwnsTheFeedsAndStartsThemQuietlyWhenNothingIsChosen) {
    launch();
    const Services s = app->inject();
    EXPECT_EQ(s.weather, app->weather());
    EXPECT_EQ(s.transit, app->transit());
    EXPECT_EQ(s.updates, app->updates());
    EXPECT_EQ(app->transit()->problem(), TransitService::Problem::noStop);
    clock.advance(3600);
    EXPECT_TRUE(server.requests().isEmpty()) << "no place, no stop, no update feed: no traffic";

    ASSERT_TRUE(app->handleDebugCommand(QString::fromUtf8("stop:Anděl")).ok);
    EXPECT_EQ(app->transit()->debugQuery(), QString::fromUtf8("Anděl"));
}

TEST_F(AppDelegateFeedsTest, TimeToLeaveOpensTheTransitTabOnce) {
    QFile f(QStringLiteral(LOMEX_FIXTURES_DIR "/feeds/transitous-stoptimes.json"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    server.route("GET", "/api/v1/stoptimes", test::FakeHttpServer::Reply{200, f.readAll(), {}});
    Settings::shared().set(keys::pidStop, nlohmann::json{{"name", "Brumovice"}, {"transitousId", "cz-jdf_T54621"}});
    Settings::shared().set(keys::leaveEnabled, true);
    Settings::shared().set(keys::walkMinutes, 14); // the 550 leaves 09:14, so: now
    launch();
    ASSERT_TRUE(test::waitUntil([&] { return app->transit()->leave().has_value(); }));
    EXPECT_TRUE(app->model()->isOpen());
    EXPECT_EQ(app->model()->tab(), NotchModel::Tab::transit);
    EXPECT_EQ(app->model()->toast(), "Leave now for line 550");
    EXPECT_TRUE(app->liveActivity()->inputs().leave);

    app->model()->close();
    // The transit tab loads as it comes on screen too; wait for the load of the next tick.
    const int before = server.requests().size();
    clock.advance(15);
    ASSERT_TRUE(test::waitUntil([&] { return server.requests().size() > before; }));
    EXPECT_FALSE(app->model()->isOpen()) << "announced once per departure";
}
