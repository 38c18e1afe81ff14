#include "TestEnv.h"
#include "notch/NotchModel.h"
#include "core/Settings.h"
#include "FakeClock.h"
#include <QSignalSpy>
#include <memory>

using namespace lomex;
using Tab = NotchModel::Tab;
using Live = NotchModel::Live;

namespace {

class NotchModelTest : public test::LomexTest {
protected:
    void SetUp() override { settings().registerLaunchDefaults(); }
    static Settings& settings() { return Settings::shared(); }
    std::unique_ptr<NotchModel> make() { return std::make_unique<NotchModel>(&clock, &settings()); }
    QStringList stored(const Key<QStringList>& key) { return settings().find(key).value_or(QStringList{"<absent>"}); }

    FakeClock clock; // outlives every model's timers
};

const QList<Tab> kCaseOrder{Tab::home, Tab::tasks, Tab::agents, Tab::transit,
                            Tab::clipboard, Tab::timer, Tab::shelf, Tab::note};

} // namespace

TEST_F(NotchModelTest, RawNamesRoundTrip) {
    EXPECT_EQ(NotchModel::allTabs(), kCaseOrder);
    for (auto t : NotchModel::allTabs()) EXPECT_EQ(NotchModel::tabNamed(NotchModel::rawName(t)), t);
    EXPECT_EQ(NotchModel::rawName(Tab::clipboard), "clipboard");
    EXPECT_FALSE(NotchModel::tabNamed("Home").has_value());
    EXPECT_FALSE(NotchModel::tabNamed("").has_value());
}

TEST_F(NotchModelTest, TabOrderStoredOnlyFromFirstAssignment) {
    auto m = make();
    EXPECT_EQ(m->tabOrder(), kCaseOrder);
    EXPECT_TRUE(m->hiddenTabs().isEmpty());
    EXPECT_FALSE(settings().isStored(keys::tabOrder));
    EXPECT_FALSE(settings().isStored(keys::hiddenTabs));

    // Assigning the order it already has still stores it.
    m->setTabOrder(m->tabOrder());
    EXPECT_EQ(stored(keys::tabOrder).size(), 8);

    // Moving note up one place from the default order.
    QSignalSpy orderSpy(m.get(), &NotchModel::tabOrderChanged);
    auto order = m->tabOrder();
    order.swapItemsAt(7, 6);
    m->setTabOrder(order);
    EXPECT_EQ(stored(keys::tabOrder),
              (QStringList{"home", "tasks", "agents", "transit", "clipboard", "timer", "note", "shelf"}));
    EXPECT_EQ(orderSpy.count(), 1);
    EXPECT_FALSE(settings().isStored(keys::hiddenTabs));

    // A new model reads it back.
    auto again = make();
    EXPECT_EQ(again->tabOrder(), order);
}

TEST_F(NotchModelTest, StoredTabOrderDropsUnknownNamesAndCompletes) {
    settings().set(keys::tabOrder, QStringList{"note", "bogus", "agents", "note", "HOME"});
    auto m = make();
    EXPECT_EQ(m->tabOrder(), (QList<Tab>{Tab::note, Tab::agents, Tab::home, Tab::tasks, Tab::transit,
                                         Tab::clipboard, Tab::timer, Tab::shelf}));

    settings().setByName("tabOrder", "note"); // not an array
    EXPECT_EQ(make()->tabOrder(), kCaseOrder);

    // An incomplete assignment is stored complete, so every tab stays reachable.
    m->setTabOrder({Tab::shelf, Tab::shelf});
    EXPECT_EQ(m->tabOrder().size(), 8);
    EXPECT_EQ(m->tabOrder().first(), Tab::shelf);
    EXPECT_EQ(stored(keys::tabOrder).size(), 8);
}

TEST_F(NotchModelTest, HiddenTabsStorageAndVisibleTabs) {
    settings().set(keys::hiddenTabs, QStringList{"tasks", "nope", "timer"});
    auto m = make();
    EXPECT_EQ(m->hiddenTabs(), (QSet<Tab>{Tab::tasks, Tab::timer}));
    EXPECT_EQ(m->visibleTabs(), (QList<Tab>{Tab::home, Tab::agents, Tab::transit, Tab::clipboard, Tab::shelf, Tab::note}));

    // Visible tabs follow the order.
    m->setTabOrder({Tab::note, Tab::timer, Tab::home});
    EXPECT_EQ(m->visibleTabs().mid(0, 2), (QList<Tab>{Tab::note, Tab::home}));

    // Every tab hidden: home alone, wherever it stands.
    QSignalSpy visibleSpy(m.get(), &NotchModel::visibleTabsChanged);
    m->setHiddenTabs(QSet<Tab>(kCaseOrder.begin(), kCaseOrder.end()));
    EXPECT_EQ(m->visibleTabs(), QList<Tab>{Tab::home});
    EXPECT_EQ(stored(keys::hiddenTabs).size(), 8);
    EXPECT_EQ(visibleSpy.count(), 1);

    // Showing everything again leaves an empty array, not an absent key.
    m->setHiddenTabs({});
    EXPECT_TRUE(settings().isStored(keys::hiddenTabs));
    EXPECT_EQ(stored(keys::hiddenTabs), QStringList{});
    EXPECT_EQ(make()->hiddenTabs(), QSet<Tab>{});
}

TEST_F(NotchModelTest, HoverOpensAfterTheDelayReadAtEachHover) {
    auto m = make();
    int haptics = 0;
    m->hapticFeedback = [&] { ++haptics; };
    settings().set(keys::hoverDelay, 0.5);

    m->hoverNotch(true);
    clock.advance(0.49);
    EXPECT_FALSE(m->isOpen());
    m->hoverNotch(false); // left before the delay ran out
    clock.advance(1);
    EXPECT_FALSE(m->isOpen());

    m->hoverNotch(true);
    clock.advance(0.45);
    m->hoverNotch(true); // a repeated entry does not restart the wait
    clock.advance(0.06);
    EXPECT_TRUE(m->isOpen());
    EXPECT_TRUE(m->isTicking());
    EXPECT_EQ(haptics, 1);
    m->close();
    EXPECT_FALSE(m->isTicking());

    // A changed delay applies at the next hover; haptics is read at each opening.
    settings().set(keys::hoverDelay, 0.1);
    settings().set(keys::haptics, false);
    m->hoverNotch(true);
    clock.advance(0.11);
    EXPECT_TRUE(m->isOpen());
    EXPECT_EQ(haptics, 1);
    m->close();

    settings().set(keys::hoverDelay, 0);
    m->hoverNotch(true);
    EXPECT_TRUE(m->isOpen()) << "no delay opens at once";
    m->close();

    settings().set(keys::hoverDelay, -3);
    m->hoverNotch(true);
    EXPECT_TRUE(m->isOpen()) << "a negative delay counts as none";
}

TEST_F(NotchModelTest, HoverOpensOnTheLastTabAndOpenSwitchesTabs) {
    auto m = make();
    QSignalSpy openSpy(m.get(), &NotchModel::isOpenChanged);
    m->open(Tab::transit);
    EXPECT_TRUE(m->isOpen());
    EXPECT_EQ(m->tab(), Tab::transit);
    m->open(Tab::shelf); // already open: only the tab changes
    EXPECT_EQ(m->tab(), Tab::shelf);
    EXPECT_EQ(openSpy.count(), 1);
    m->close();
    m->close();
    EXPECT_EQ(openSpy.count(), 2);

    settings().set(keys::hoverDelay, 0.2);
    m->hoverNotch(true);
    m->close(); // closing (e.g. opening the settings) cancels a pending hover opening
    clock.advance(0.3);
    EXPECT_FALSE(m->isOpen());
    m->hoverNotch(true);
    clock.advance(0.3);
    EXPECT_EQ(m->tab(), Tab::shelf);
}

TEST_F(NotchModelTest, HoverTabSwitchesAfterDelayWhileEnabled) {
    auto m = make();
    m->open(Tab::home);

    m->hoverTab(Tab::agents, true);
    clock.advance(0.17);
    EXPECT_EQ(m->tab(), Tab::home);
    clock.advance(0.02);
    EXPECT_EQ(m->tab(), Tab::agents);

    // Leaving before the delay cancels; leaving another tab does not.
    m->hoverTab(Tab::note, true);
    m->hoverTab(Tab::note, false);
    clock.advance(0.5);
    EXPECT_EQ(m->tab(), Tab::agents);
    m->hoverTab(Tab::shelf, true);
    m->hoverTab(Tab::note, false);
    clock.advance(0.2);
    EXPECT_EQ(m->tab(), Tab::shelf);

    // Read at each hover.
    settings().set(keys::hoverTabs, false);
    m->hoverTab(Tab::timer, true);
    clock.advance(1);
    EXPECT_EQ(m->tab(), Tab::shelf);
    settings().set(keys::hoverTabs, true);
    m->hoverTab(Tab::timer, true);
    m->close(); // a closing notch drops the pending switch
    clock.advance(1);
    EXPECT_EQ(m->tab(), Tab::shelf);
}

TEST_F(NotchModelTest, ToastClearsAfterItsSecondsAndSetsThePeekDeadline) {
    auto m = make();
    QSignalSpy toastSpy(m.get(), &NotchModel::toastChanged);
    const QDateTime start = clock.now();
    m->show("Claude Code needs you", 3);
    EXPECT_EQ(m->toast(), "Claude Code needs you");
    ASSERT_TRUE(m->peekDeadline().has_value());
    EXPECT_EQ(*m->peekDeadline(), start.addSecs(3));
    EXPECT_TRUE(m->peekHolds());

    clock.advance(2);
    m->show("Done", 2); // a newer toast replaces it and runs its own time
    clock.advance(1.5);
    EXPECT_EQ(m->toast(), "Done");
    clock.advance(0.6);
    EXPECT_TRUE(m->toast().isEmpty());
    EXPECT_FALSE(m->peekHolds());
    EXPECT_EQ(toastSpy.count(), 3);
}

TEST_F(NotchModelTest, ShorterPeekDoesNotCutALongerOneShort) {
    auto m = make();
    m->open(Tab::agents);
    m->peek(570);
    m->show("Saved", 2);
    EXPECT_EQ(*m->peekDeadline(), clock.now().addSecs(570));
    clock.advance(10);
    EXPECT_TRUE(m->peekHolds());
    m->close();
    EXPECT_FALSE(m->peekDeadline().has_value()) << "closing clears the deadline";
    m->show("Later", 1);
    EXPECT_EQ(*m->peekDeadline(), clock.now().addSecs(1)) << "a passed or cleared deadline is replaced";
}

TEST_F(NotchModelTest, EndingAnApprovalHoldKeepsOnlyAVisibleToast) {
    auto m = make();
    // Opened for an approval with its 570 s hold; answered with the pointer elsewhere.
    m->open(Tab::agents);
    m->peek(570);
    clock.advance(5);
    m->endPeek();
    EXPECT_FALSE(m->isOpen()) << "nothing left to hold the notch open for";

    // A toast shown with the request still gets its seconds.
    m->open(Tab::agents);
    m->peek(570);
    m->show("infra: May I use Bash?", 5);
    clock.advance(1);
    m->endPeek();
    EXPECT_TRUE(m->isOpen());
    EXPECT_EQ(*m->peekDeadline(), clock.now().addSecs(4));
    clock.advance(4.2);
    EXPECT_FALSE(m->isOpen());

    // The pointer on the notch keeps it open until it leaves.
    settings().set(keys::hoverDelay, 0);
    m->hoverNotch(true);
    m->peek(570);
    m->endPeek();
    EXPECT_TRUE(m->isOpen());
    m->hoverNotch(false);
    EXPECT_FALSE(m->isOpen());
}

TEST_F(NotchModelTest, LeavingClosesUnlessThePeekHolds) {
    auto m = make();
    settings().set(keys::hoverDelay, 0);

    // No hold: leaving closes at once.
    m->hoverNotch(true);
    ASSERT_TRUE(m->isOpen());
    m->hoverNotch(false);
    EXPECT_FALSE(m->isOpen());

    // Held: stays open until the deadline, then closes with the pointer still outside.
    m->hoverNotch(true);
    m->show("Build finished", 2);
    m->hoverNotch(false);
    EXPECT_TRUE(m->isOpen());
    clock.advance(1.9);
    EXPECT_TRUE(m->isOpen());
    clock.advance(0.3);
    EXPECT_FALSE(m->isOpen());

    // Coming back before the deadline keeps it open past it.
    m->hoverNotch(true);
    m->show("x", 1);
    m->hoverNotch(false);
    m->hoverNotch(true);
    clock.advance(2);
    EXPECT_TRUE(m->isOpen());
    m->hoverNotch(false);
    EXPECT_FALSE(m->isOpen()) << "once the deadline passed, leaving closes";
}

TEST_F(NotchModelTest, OpenedByAnEventClosesWhenThePeekEndsUnlessVisited) {
    auto m = make();
    m->open(Tab::agents);
    m->show("Needs approval", 4);
    clock.advance(4.2);
    EXPECT_FALSE(m->isOpen()) << "the pointer never came: the hold ends the opening";

    // Opened without a hold (hot key, debug command): stays until left or closed.
    m->open(Tab::clipboard);
    clock.advance(30);
    EXPECT_TRUE(m->isOpen());
}

TEST_F(NotchModelTest, OpenTickPollsThePointerAgainstTheHotRect) {
    auto m = make();
    m->configure(QRect(0, 0, 1920, 1080));
    QPoint pointer(960, 10);
    m->pointerLocation = [&] { return pointer; };
    m->open(Tab::home);
    clock.advance(0.15);
    EXPECT_TRUE(m->isOpen());
    pointer = QPoint(960, 400); // below the open notch
    clock.advance(0.15);
    EXPECT_FALSE(m->isOpen());
    EXPECT_FALSE(m->isTicking());

    // Pointer elsewhere from the start, no hold: nothing to leave, stays open.
    m->open(Tab::home);
    clock.advance(1);
    EXPECT_TRUE(m->isOpen());
    // Held, pointer arrives during the hold: still open after it.
    m->show("t", 0.5);
    pointer = QPoint(700, 100);
    clock.advance(1);
    EXPECT_TRUE(m->isOpen());
}

TEST_F(NotchModelTest, NoticesClearAfterTheirTime) {
    auto m = make();
    QSignalSpy spy(m.get(), &NotchModel::noticeChanged);
    m->show(Notice::lowBattery(20));
    clock.advance(5.9);
    ASSERT_TRUE(m->notice().has_value());
    EXPECT_EQ(m->notice()->kind, Notice::Kind::lowBattery);
    clock.advance(0.2);
    EXPECT_FALSE(m->notice().has_value());

    m->show(Notice::charging(55));
    clock.advance(3.9);
    EXPECT_TRUE(m->notice().has_value());
    m->show(Notice::device("AirPods", "airpods", {{"L", 80}, {"R", 0}, {"C", 140}}));
    clock.advance(3.9);
    ASSERT_TRUE(m->notice().has_value()) << "a newer notice runs its own four seconds";
    EXPECT_EQ(m->notice()->batteries,
              (QList<Notice::Battery>{{"L", 80}, {"R", 1}, {"C", 100}}));
    clock.advance(0.2);
    EXPECT_FALSE(m->notice().has_value());
    EXPECT_EQ(spy.count(), 5);
    EXPECT_FALSE(m->isOpen()) << "a notice shows in the closed notch";
}

TEST_F(NotchModelTest, GeometryFromTheScreenFrame) {
    auto m = make();
    EXPECT_FALSE(m->hasPhysicalNotch());
    QSignalSpy geo(m.get(), &NotchModel::geometryChanged);
    m->configure(QRect(1920, 0, 2560, 1440));
    EXPECT_EQ(m->openHotRect(), QRect(1920 + (2560 - 724) / 2, 0, 724, 284));
    m->setShowUsageRow(true);
    EXPECT_EQ(m->openHotRect(), QRect(2838, 0, 724, 306));
    m->configure(QRect(0, 24, 1366, 744));
    EXPECT_EQ(m->openHotRect(), QRect(321, 24, 724, 306));
    EXPECT_EQ(geo.count(), 3);

    // The pill grows by one side on each end while a live activity shows.
    EXPECT_EQ(m->collapsedWidth(), m->notchSize().width());
    for (auto live : {Live::media, Live::timer, Live::meeting, Live::leave, Live::agent, Live::notice}) {
        m->setLive(live);
        EXPECT_GT(m->sideWidth(), 0) << NotchModel::rawName(live).toStdString();
        EXPECT_EQ(m->collapsedWidth(), m->notchSize().width() + 2 * m->sideWidth());
        EXPECT_LT(m->collapsedWidth(), NotchModel::kOpenWidth);
    }
}

// Tabs this version has no page for are left out of the bar; the stored lists keep them, and
// the notch opens on the first tab with a page in the user's order.
TEST_F(NotchModelTest, TabsWithoutAPageAreLeftOutAndTheNotchOpensOnTheFirstWithOne) {
    const QSet<Tab> paged{Tab::agents, Tab::transit, Tab::shelf, Tab::note};
    struct Case {
        QStringList order, hidden;
        QList<Tab> visible;
    } cases[] = {
        {{}, {}, {Tab::agents, Tab::transit, Tab::shelf, Tab::note}},
        {{"home", "note", "tasks", "shelf"}, {"agents"}, {Tab::note, Tab::shelf, Tab::transit}},
        {{"timer", "transit"}, {"home"}, {Tab::transit, Tab::agents, Tab::shelf, Tab::note}},
        // Every tab with a page hidden: home alone, as when every tab is hidden.
        {{}, {"agents", "transit", "shelf", "note"}, {Tab::home}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.order.join(',').toStdString() + " / " + c.hidden.join(',').toStdString());
        settings().set(keys::tabOrder, c.order);
        settings().set(keys::hiddenTabs, c.hidden);
        auto m = make();
        m->setTabsWithPages(paged);
        EXPECT_EQ(m->visibleTabs(), c.visible);
        EXPECT_EQ(stored(keys::tabOrder), c.order) << "stored names are kept as they are";
        EXPECT_EQ(stored(keys::hiddenTabs), c.hidden);
        settings().set(keys::hoverDelay, 0);
        m->hoverNotch(true);
        ASSERT_TRUE(m->isOpen());
        EXPECT_EQ(m->tab(), c.visible.first());
        // A tab without a page is never shown, whoever asks for it.
        m->open(Tab::clipboard);
        EXPECT_EQ(m->tab(), c.visible.first());
    }
}

// A drag carries no enter events: over the closed pill a file drag opens the shelf (unless it
// is hidden), and resting on a tab switches to it, whatever the hover switch says.
TEST_F(NotchModelTest, AFileDragOpensTheShelfAndARestingDragSwitchesTabs) {
    settings().set(keys::hoverDelay, 0.1);
    settings().set(keys::hoverTabs, false);
    for (bool shelfHidden : {false, true}) {
        SCOPED_TRACE(shelfHidden);
        auto m = make();
        m->setTabsWithPages({Tab::agents, Tab::transit, Tab::shelf, Tab::note});
        m->setHiddenTabs(shelfHidden ? QSet<Tab>{Tab::shelf} : QSet<Tab>{});
        m->open(Tab::note);
        m->close();
        m->hoverNotch(true, true);
        clock.advance(0.11);
        ASSERT_TRUE(m->isOpen());
        EXPECT_EQ(m->tab(), shelfHidden ? Tab::note : Tab::shelf);

        m->dragOverTab(Tab::transit, true);
        clock.advance(0.1);
        m->dragOverTab(Tab::transit, false); // moved on before the delay
        clock.advance(0.2);
        EXPECT_NE(m->tab(), Tab::transit);
        m->dragOverTab(Tab::transit, true);
        clock.advance(0.19);
        EXPECT_EQ(m->tab(), Tab::transit);
    }
}

// Edits of the file made while the app runs reach the tab bar, and are not written back.
TEST_F(NotchModelTest, HandEditsOfTheTabSettingsAreFollowed) {
    auto m = make();
    QSignalSpy visibleSpy(m.get(), &NotchModel::visibleTabsChanged);
    settings().set(keys::tabOrder, QStringList{"note", "bogus", "agents"}); // as the file watcher reports it
    EXPECT_EQ(m->tabOrder().mid(0, 3), (QList<Tab>{Tab::note, Tab::agents, Tab::home}));
    settings().set(keys::hiddenTabs, QStringList{"home", "x"});
    EXPECT_EQ(m->hiddenTabs(), QSet<Tab>{Tab::home});
    EXPECT_EQ(m->visibleTabs().first(), Tab::note);
    EXPECT_EQ(visibleSpy.count(), 2);
    EXPECT_EQ(stored(keys::tabOrder), (QStringList{"note", "bogus", "agents"}));
    settings().remove(keys::hiddenTabs);
    EXPECT_TRUE(m->hiddenTabs().isEmpty());
    EXPECT_FALSE(settings().isStored(keys::hiddenTabs));
}
