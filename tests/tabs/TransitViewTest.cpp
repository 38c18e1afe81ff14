#include "feeds/FeedsTestSupport.h"
#include "platform/Workspace.h"
#include "tabs/FeedRows.h"
#include "tabs/TransitView.h"
#include "FakeWorkspace.h"
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <nlohmann/json.hpp>

using namespace lomex;
using namespace lomex::test;
using State = TransitView::State;
using StopGroup = TransitService::StopGroup;

namespace {

StopGroup pragueStop(const QString& municipality = "Praha") {
    return {"Anděl", municipality, {"U1040Z1P"}, {"9"}, std::nullopt};
}

StopGroup transitousStop() { return {"Brumovice", std::nullopt, {}, {}, QStringLiteral("cz-jdf_T54621")}; }

class TransitViewTest : public FeedsTest {
protected:
    TransitViewTest() {
        Workspace::setCurrent(&workspace);
        board(3);
    }
    ~TransitViewTest() override { Workspace::setCurrent(nullptr); }

    // A departure board of n departures, the first 10 minutes from the fake now, then every 2.
    void board(int n, int status = 200) {
        nlohmann::json deps = nlohmann::json::array();
        for (int i = 0; i < n; ++i) {
            const QDateTime at = clock.now().addSecs(600 + 120 * i);
            deps.push_back({{"departure_timestamp", {{"predicted", at.toString(Qt::ISODate).toStdString()}}},
                            {"route", {{"short_name", std::to_string(100 + i)}, {"type", 3}}},
                            {"trip", {{"headsign", "Stop " + std::to_string(i)}}}});
        }
        const nlohmann::json body = {{"departures", deps}};
        server.route("GET", "/v2/pid/departureboards", json(QByteArray::fromStdString(body.dump()), status));
    }
    void load(const std::optional<StopGroup>& stop, const QString& key = "key") {
        settings().set(keys::golemioKey, key);
        transit.setStop(stop);
        waitUntil([&] { return transit.client()->finished() == transit.client()->started(); }, 3000);
    }
    QList<DepartureRow*> rows() const { return view.content()->findChildren<DepartureRow*>(); }
    QPushButton* action() const { return view.content()->findChild<QPushButton*>("action"); }

    FakeWorkspace workspace;
    TransitService transit{&clock, &Settings::shared()};
    TransitView view{&transit, &clock};
};

} // namespace

TEST_F(TransitViewTest, ContentStatesInTheirOrder) {
    struct Case {
        const char* name;
        std::function<void()> arrange;
        State state;
        QString message, button;
    };
    const std::vector<Case> cases = {
        {"no key and no stop: the stop first", [&] { load(std::nullopt, ""); }, State::noStop, "Pick your stop.", "Pick stop"},
        {"timetable name, no stop", [&] { transit.setIdosStop(QStringLiteral("Brumovice")); }, State::timetableLink,
         "This stop isn't in Prague's", "Departures from “Brumovice” on IDOS"},
        {"a stop wins over the timetable name", [&] { load(pragueStop()); }, State::departures, "", ""},
        {"key, no stop", [&] { transit.setIdosStop(std::nullopt); load(std::nullopt); }, State::noStop, "Pick your stop.", "Pick stop"},
        {"a Prague stop without a key", [&] { load(pragueStop(), ""); }, State::noKey, "This PID stop needs a Golemio key", "Set up"},
        {"refused key", [&] { board(3, 401); load(pragueStop()); }, State::badKey, "The Golemio key doesn't work", "Set up"},
        {"nothing departs", [&] { board(0); transit.refresh(); waitUntil([&] { return !transit.problem(); }); },
         State::noDepartures, "Nothing departs in the next 2 hours.", ""},
        {"failed load over held departures", [&] {
             board(2);
             transit.refresh();
             waitUntil([&] { return !transit.departures().isEmpty(); });
             board(2, 500);
             transit.refresh();
             waitUntil([&] { return transit.problem().has_value(); });
         },
         State::network, "Couldn't load departures.", "Click to refresh"},
    };
    for (const Case& c : cases) {
        c.arrange();
        EXPECT_EQ(view.state(), c.state) << c.name;
        EXPECT_EQ(TransitView::stateFor(transit), c.state) << c.name;
        auto* message = view.content()->findChild<QLabel*>("message");
        if (c.message.isEmpty()) continue;
        ASSERT_TRUE(message) << c.name;
        EXPECT_TRUE(message->text().startsWith(c.message)) << c.name << ": " << message->text().toStdString();
        if (!c.button.isEmpty()) {
            ASSERT_TRUE(action()) << c.name;
            EXPECT_EQ(action()->text(), c.button) << c.name;
        }
    }
    EXPECT_EQ(view.label("title")->text(), "Anděl");
}

TEST_F(TransitViewTest, ButtonsLeadToThePlacesPageOrLoadAgain) {
    int opened = 0;
    view.onOpenPlaces = [&] { ++opened; };
    load(std::nullopt, "");
    action()->click();
    view.findChild<QToolButton*>("change")->click();
    EXPECT_EQ(opened, 2);
    EXPECT_EQ(view.findChild<QToolButton*>("change")->toolTip(), "Change stop");
    EXPECT_EQ(view.findChild<QToolButton*>("change")->accessibleName(), "Change stop"); // screen readers

    board(1, 503);
    load(pragueStop());
    ASSERT_EQ(view.state(), State::network);
    const int before = server.requestsTo("/v2/pid/departureboards").size();
    action()->click();
    EXPECT_TRUE(waitUntil([&] { return server.requestsTo("/v2/pid/departureboards").size() == before + 1; }));
    EXPECT_EQ(opened, 2);
}

TEST_F(TransitViewTest, GridShowsTheFirstEightRowByRow) {
    for (int n : {11, 7}) {
        board(n);
        transit.refresh();
        load(pragueStop());
        ASSERT_TRUE(waitUntil([&] { return transit.departures().size() == n; }));
        const auto shown = rows();
        ASSERT_EQ(shown.size(), std::min(n, 8)) << n;
        auto* grid = view.content()->findChild<QGridLayout*>();
        ASSERT_TRUE(grid);
        for (int i = 0; i < shown.size(); ++i) {
            int row, column, rs, cs;
            grid->getItemPosition(grid->indexOf(shown[i]), &row, &column, &rs, &cs);
            EXPECT_EQ(shown[i]->departure().line, QString::number(100 + i));
            EXPECT_EQ(row, i / 2);
            EXPECT_EQ(column, i % 2);
        }
    }
}

TEST_F(TransitViewTest, TimelineCountsWhileShownAndStopsWhenHidden) {
    settings().set(keys::leaveEnabled, true);
    settings().set(keys::walkMinutes, 5);
    load(pragueStop()); // the first bus leaves in 10 min: leave in 5
    ASSERT_TRUE(transit.leave().has_value());
    const int loads = server.requestsTo("/v2/pid/departureboards").size();
    view.show();
    EXPECT_TRUE(waitUntil([&] { return server.requestsTo("/v2/pid/departureboards").size() == loads + 1; }))
        << "coming on screen loads anew";
    ASSERT_TRUE(waitUntil([&] { return transit.client()->finished() == transit.client()->started(); }));
    EXPECT_EQ(view.timeline()->parent(), &view);
    EXPECT_TRUE(view.timeline()->isActive());
    EXPECT_EQ(view.label("leaveText")->text(), "Leave in 5 min for line 100");
    EXPECT_EQ(view.label("leaveHeadsign")->text(), "→ Stop 0");
    EXPECT_EQ(rows().first()->label("left")->text(), "10 min");

    clock.advance(4 * 60 + 45); // leaving 15 s ahead still rounds up to a minute
    EXPECT_EQ(view.label("leaveText")->text(), "Leave in 1 min for line 100");
    EXPECT_EQ(rows().first()->label("left")->text(), "5 min");
    clock.advance(15);
    EXPECT_EQ(view.label("leaveText")->text(), "Leave now for line 100");

    view.hide();
    EXPECT_FALSE(view.timeline()->isActive());
    const QString before = rows().first()->label("left")->text();
    clock.advance(120);
    EXPECT_EQ(rows().first()->label("left")->text(), before);
}

TEST_F(TransitViewTest, LeaveMinutesRoundUp) {
    const QDateTime now = clock.now();
    for (auto [seconds, minutes] : std::vector<std::pair<int, int>>{{10, 1}, {59, 1}, {60, 1}, {61, 2}, {0, 0}, {-10, 0}, {-70, -1}})
        EXPECT_EQ(TransitView::leaveMinutes(now, now.addSecs(seconds)), minutes) << seconds;
}

TEST_F(TransitViewTest, HeaderAndFooter) {
    EXPECT_FALSE(view.label("updated")->isVisibleTo(&view)) << "nothing loaded yet";
    load(pragueStop("Praha"));
    EXPECT_FALSE(view.label("municipality")->isVisibleTo(&view));
    EXPECT_TRUE(view.label("updated")->isVisibleTo(&view));
    EXPECT_FALSE(view.footer()->isVisibleTo(&view)) << "a Prague-list stop has no footer";
    for (const QString m : {"praha", "Praha-západ"}) {
        load(pragueStop(m));
        EXPECT_TRUE(view.label("municipality")->isVisibleTo(&view)) << m.toStdString();
        EXPECT_EQ(view.label("municipality")->text(), m);
    }

    server.route("GET", "/api/v1/stoptimes", json("{}", 500));
    load(transitousStop(), "");
    ASSERT_EQ(view.state(), State::network);
    EXPECT_TRUE(view.footer()->isVisibleTo(&view)) << "shown in every state";
    view.footer()->findChild<QPushButton*>("attribution")->click();
    view.footer()->findChild<QPushButton*>("openIdos")->click();
    ASSERT_EQ(workspace.opened.size(), 2);
    EXPECT_EQ(workspace.opened[0], TransitService::sourcesURL());
    EXPECT_EQ(workspace.opened[1], *TransitService::idosURL("Brumovice"));
}
