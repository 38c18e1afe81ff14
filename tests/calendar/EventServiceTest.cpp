#include "CalendarTestSupport.h"
#include "calendar/EventService.h"
#include "core/Clock.h"
#include "core/Settings.h"
#include "FakeCalendarStore.h"
#include "platform/Workspace.h"
#include "FakeClock.h"
#include "FakeWorkspace.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

using namespace lomex;
using test::prague;

namespace {

CalendarEvent event(const QString& title, const QDateTime& start, const QDateTime& end, bool allDay = false) {
    CalendarEvent e;
    e.uid = title;
    e.calendarId = QStringLiteral("work");
    e.title = title;
    e.start = start;
    e.end = end;
    e.allDay = allDay;
    return e;
}

QStringList titles(const QList<CalendarEvent>& events) {
    QStringList out;
    for (const CalendarEvent& e : events) out << e.title;
    return out;
}

QStringList titles(const QList<CalendarTask>& tasks) {
    QStringList out;
    for (const CalendarTask& t : tasks) out << t.title;
    return out;
}

void drain() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

class EventServiceTest : public test::LomexTest {
protected:
    EventServiceTest() : clock(prague(2027, 3, 22, 8, 0)) {
        Settings::shared().registerLaunchDefaults();
        store.eventCalendars = {{QStringLiteral("work"), QStringLiteral("Práce")},
                                {QStringLiteral("home"), QStringLiteral("Domov")},
                                {QStringLiteral("feed"), QStringLiteral("Svátky"), {}, false}};
        store.reminderLists = {{QStringLiteral("shop"), QStringLiteral("Nákupy")},
                               {QStringLiteral("pub"), QStringLiteral("Nakladatelství")},
                               {QStringLiteral("todo"), QStringLiteral("Úkoly")}};
        store.defaultEventCalendar = QStringLiteral("work");
        store.defaultReminderList = QStringLiteral("todo");
    }
    void refreshed() {
        service.refresh();
        drain();
    }

    test::ZoneScope zone{"Europe/Prague"};
    FakeClock clock;
    FakeCalendarStore store;
    FakeWorkspace workspace;
    EventService service{&store, &clock, &Settings::shared(), &workspace};
};

TEST_F(EventServiceTest, AgendaWindowFollowsAgendaDays) {
    store.allEvents = {
        event("ended", prague(2027, 3, 22, 7, 0), prague(2027, 3, 22, 7, 30)),
        event("since yesterday", prague(2027, 3, 21, 23, 0), prague(2027, 3, 22, 9, 0)),
        event("all day", prague(2027, 3, 22), prague(2027, 3, 23), true),
        event("today", prague(2027, 3, 22, 10, 0), prague(2027, 3, 22, 11, 0)),
        event("after midnight", prague(2027, 3, 23, 0, 30), prague(2027, 3, 23, 1, 0)),
        event("tomorrow", prague(2027, 3, 23, 10, 0), prague(2027, 3, 23, 11, 0)),
        event("in 2 days", prague(2027, 3, 24, 10, 0), prague(2027, 3, 24, 11, 0)),
        event("in 6 days", prague(2027, 3, 28, 10, 0), prague(2027, 3, 28, 11, 0)),
        event("in 7 days", prague(2027, 3, 29, 10, 0), prague(2027, 3, 29, 11, 0)),
    };
    const QStringList today = {"since yesterday", "all day", "today"};
    const struct {
        std::optional<int> days;
        QStringList upcoming;
    } rows[] = {
        {std::nullopt, {}},
        {0, {}},
        {1, {}},
        {2, {"after midnight", "tomorrow"}},
        {3, {"after midnight", "tomorrow", "in 2 days"}},
        {7, {"after midnight", "tomorrow", "in 2 days", "in 6 days"}},
        {9, {"after midnight", "tomorrow", "in 2 days", "in 6 days"}},
        {30, {"after midnight", "tomorrow", "in 2 days", "in 6 days"}},
    };
    for (const auto& row : rows) {
        if (row.days) Settings::shared().set(keys::agendaDays, *row.days);
        refreshed();
        EXPECT_EQ(titles(service.todayEvents()), today) << row.days.value_or(-1);
        EXPECT_EQ(titles(service.upcomingEvents()), row.upcoming) << row.days.value_or(-1);
    }
}

TEST_F(EventServiceTest, LongDayAtTheEndOfSummerTimeLosesNoEvent) {
    // 31 October 2027 has 25 hours in Prague: two days of 24 elapsed hours end an hour early.
    clock.set(prague(2027, 10, 31, 8, 0));
    Settings::shared().set(keys::agendaDays, 2);
    store.allEvents = {event("late tomorrow", prague(2027, 11, 1, 23, 30), prague(2027, 11, 1, 23, 45))};
    refreshed();
    EXPECT_EQ(titles(service.upcomingEvents()), QStringList{"late tomorrow"});
}

TEST_F(EventServiceTest, SoonEventEdges) {
    const QDateTime now = clock.now();
    const struct {
        const char* name;
        int lead;
        qint64 startOffset;
        bool allDay;
        bool soon;
    } rows[] = {
        {"in exactly the lead", 10, 600, false, true},
        {"one second later", 10, 601, false, false},
        {"started 4 minutes ago", 10, -240, false, true},
        {"started 5 minutes ago", 10, -300, false, false},
        {"all day", 10, 0, true, false},
        {"lead 0, starting now", 0, 0, false, true},
        {"lead 0, in a minute", 0, 60, false, false},
    };
    for (const auto& row : rows) {
        Settings::shared().set(keys::meetingLead, row.lead);
        const QDateTime start = now.addSecs(row.startOffset);
        store.allEvents = {event(row.name, start, start.addSecs(1800), row.allDay)};
        refreshed();
        EXPECT_EQ(service.soonEvent().has_value(), row.soon) << row.name;
    }
    Settings::shared().set(keys::meetingLead, 10);
    store.allEvents = {event("later", now.addSecs(500), now.addSecs(900)), event("earlier", now.addSecs(100), now.addSecs(900))};
    refreshed();
    ASSERT_TRUE(service.soonEvent());
    EXPECT_EQ(service.soonEvent()->title, "earlier");
}

TEST_F(EventServiceTest, LateEveningSoonEventAfterMidnight) {
    clock.set(prague(2027, 3, 22, 23, 55));
    store.allEvents = {event("midnight call", prague(2027, 3, 23, 0, 3), prague(2027, 3, 23, 0, 30))};
    refreshed();
    ASSERT_TRUE(service.soonEvent());
    EXPECT_TRUE(service.todayEvents().isEmpty());
}

TEST_F(EventServiceTest, EqualStartsKeepTheStoresOrder) {
    store.allEvents = {event("b", prague(2027, 3, 22, 10), prague(2027, 3, 22, 11)),
                       event("a", prague(2027, 3, 22, 10), prague(2027, 3, 22, 11)),
                       event("first", prague(2027, 3, 22, 9), prague(2027, 3, 22, 11))};
    refreshed();
    EXPECT_EQ(titles(service.todayEvents()), (QStringList{"first", "b", "a"}));
}

TEST_F(EventServiceTest, RemindersSplitByDueDay) {
    auto task = [](const char* title, std::optional<QDate> day, std::optional<QDateTime> time) {
        CalendarTask t;
        t.uid = title;
        t.title = title;
        t.dueDay = day;
        t.dueTime = time;
        return t;
    };
    store.tasks = {
        task("tomorrow 9", {}, prague(2027, 3, 23, 9)),
        task("no due date", {}, {}),
        task("today, no time", QDate(2027, 3, 22), {}),
        task("earlier today", {}, prague(2027, 3, 22, 7)),
        task("last year", {}, prague(2026, 3, 1, 12)),
        task("yesterday", QDate(2027, 3, 21), {}),
    };
    refreshed();
    EXPECT_EQ(titles(service.overdue()), (QStringList{"last year", "yesterday"}));
    EXPECT_EQ(titles(service.today()), (QStringList{"today, no time", "earlier today"}));
    EXPECT_EQ(titles(service.upcoming()), QStringList{"tomorrow 9"});
    EXPECT_FALSE(EventService::hasDueTime(service.today().first()));
    EXPECT_TRUE(EventService::hasDueTime(service.today().last()));
}

TEST_F(EventServiceTest, StaleFetchNeverOverwritesANewerOne) {
    store.deferFetches = true;
    CalendarTask t;
    t.uid = t.title = "old";
    t.dueDay = QDate(2027, 3, 22);
    store.tasks = {t};
    service.refresh();
    store.tasks[0].title = "new";
    service.refresh();
    store.finishFetch(1); // the newer fetch arrives first
    store.finishFetch(0);
    EXPECT_EQ(titles(service.today()), QStringList{"new"});

    // Access goes away while a fetch is under way: it must not publish afterwards.
    service.refresh();
    store.access = false;
    service.refresh();
    store.finishFetch(0);
    EXPECT_TRUE(service.today().isEmpty());
    EXPECT_FALSE(service.remindersAccess());
}

TEST_F(EventServiceTest, NoAccessEmptiesEverything) {
    store.allEvents = {event("today", prague(2027, 3, 22, 8, 5), prague(2027, 3, 22, 9))};
    refreshed();
    ASSERT_TRUE(service.soonEvent());
    store.access = false;
    refreshed();
    EXPECT_TRUE(service.todayEvents().isEmpty());
    EXPECT_FALSE(service.soonEvent());
    QuickAddResult r;
    r.title = "x";
    EXPECT_EQ(EventService::addError(*service.add(r)), EventService::AddError::noAccess);
    EXPECT_TRUE(store.savedTasks.isEmpty());
}

TEST_F(EventServiceTest, AddEvents) {
    refreshed();
    QuickAddResult r;
    r.kind = QuickAddResult::Kind::event;
    r.title = "Porada";
    r.start = prague(2027, 3, 23, 10);
    r.hasTime = true;
    ASSERT_FALSE(service.add(r));
    NewEvent e = store.savedEvents.takeLast();
    EXPECT_EQ(e.calendarId, "work");
    EXPECT_EQ(e.start, prague(2027, 3, 23, 10));
    EXPECT_EQ(e.end, prague(2027, 3, 23, 11));
    EXPECT_EQ(e.alarmSecondsBefore, 600);

    r.hasTime = false;
    r.start = prague(2027, 3, 24, 0, 0);
    r.listName = "domov";
    ASSERT_FALSE(service.add(r));
    e = store.savedEvents.takeLast();
    EXPECT_TRUE(e.allDay);
    EXPECT_EQ(e.day, QDate(2027, 3, 24));
    EXPECT_EQ(e.calendarId, "home");
    EXPECT_FALSE(e.alarmSecondsBefore);

    // A read-only calendar is never chosen by name; the default takes it.
    r.listName = "svatky";
    r.start.reset();
    ASSERT_FALSE(service.add(r));
    e = store.savedEvents.takeLast();
    EXPECT_EQ(e.calendarId, "work");
    EXPECT_EQ(e.day, QDate(2027, 3, 22));

    // An end that is not after the start is refused, nothing written.
    r.hasTime = true;
    r.start = prague(2027, 3, 23, 10);
    r.end = prague(2027, 3, 23, 10);
    EXPECT_EQ(EventService::addError(*service.add(r)), EventService::AddError::invalidDates);
    EXPECT_TRUE(store.savedEvents.isEmpty());

    store.saveError = LomexError{"POSIX", 28, "disk full"};
    r.end.reset();
    EXPECT_EQ(service.add(r), store.saveError);

    store.defaultEventCalendar.reset();
    r.listName.reset();
    EXPECT_EQ(EventService::addError(*service.add(r)), EventService::AddError::noCalendar);
}

TEST_F(EventServiceTest, AddRemindersChoosesListByFoldedName) {
    refreshed();
    QuickAddResult r;
    r.title = "Mléko";
    const struct {
        std::optional<QString> name;
        const char* list;
    } rows[] = {
        {QStringLiteral("nak"), "shop"},          // begins two lists: the first in the store's order
        {QStringLiteral("NAKLADATELSTVI"), "pub"}, // equals one folded title
        {QStringLiteral("úkoly"), "todo"},
        {QStringLiteral(""), "todo"},
        {std::nullopt, "todo"},
        {QStringLiteral("nothing like it"), "todo"},
    };
    for (const auto& row : rows) {
        r.listName = row.name;
        ASSERT_FALSE(service.add(r));
        EXPECT_EQ(store.savedTasks.last().calendarId, row.list) << row.name.value_or("(none)").toStdString();
    }
    store.reminderLists.prepend({QStringLiteral("shop2"), QStringLiteral("Nákupy velké")});
    r.listName = QStringLiteral("nakupy");
    ASSERT_FALSE(service.add(r));
    EXPECT_EQ(store.savedTasks.last().calendarId, "shop"); // exact beats an earlier prefix

    r.listName.reset();
    r.start = QDateTime(QDate(2027, 3, 23), QTime(9, 30, 42), QTimeZone("Europe/Prague"));
    r.hasTime = true;
    r.priority = 1;
    ASSERT_FALSE(service.add(r));
    NewTask t = store.savedTasks.last();
    EXPECT_EQ(t.dueTime, prague(2027, 3, 23, 9, 30)); // due to the minute
    EXPECT_EQ(t.alarmAt, r.start);
    EXPECT_EQ(t.priority, 1);

    r.hasTime = false;
    r.priority = 0;
    ASSERT_FALSE(service.add(r));
    t = store.savedTasks.last();
    EXPECT_EQ(t.dueDay, QDate(2027, 3, 23));
    EXPECT_FALSE(t.dueTime);
    EXPECT_FALSE(t.alarmAt);
    EXPECT_EQ(t.priority, 0);
}

TEST_F(EventServiceTest, RequestAccessOpensTheStoreWhenRefused) {
    store.access = false;
    store.grantOnRequest = false;
    service.requestAccess();
    EXPECT_EQ(store.accessRequests, 0); // returns at once
    drain();
    EXPECT_EQ(store.accessRequests, 1);
    ASSERT_EQ(workspace.opened.size(), 1);
    EXPECT_EQ(workspace.opened.first(), QUrl::fromLocalFile(store.location()));

    store.grantOnRequest = true;
    service.requestAccess();
    drain();
    EXPECT_TRUE(service.eventsAccess());
    EXPECT_TRUE(service.remindersAccess());
    EXPECT_EQ(workspace.opened.size(), 1);
}

TEST_F(EventServiceTest, StartRefreshesOnTimerAndStoreChanges) {
    service.start();
    const int first = store.eventQueries;
    clock.advance(29);
    EXPECT_EQ(store.eventQueries, first);
    clock.advance(1);
    EXPECT_EQ(store.eventQueries, first + 1);
    emit store.changed();
    EXPECT_EQ(store.eventQueries, first + 2);

    CalendarTask t;
    t.uid = t.title = "done";
    t.dueDay = QDate(2027, 3, 22);
    store.tasks = {t};
    drain();
    service.complete(t);
    drain();
    EXPECT_EQ(store.completed.size(), 1);
    EXPECT_TRUE(service.today().isEmpty());
}

TEST(MeetingLink, Pattern) {
    const struct {
        std::optional<QString> url, location, notes;
        const char* expected;
    } rows[] = {
        {{}, "https://meet.google.com/abc-defg-hij", {}, "https://meet.google.com/abc-defg-hij"},
        {{}, "Room 4 https://acme.zoom.us/j/123?pwd=x", "https://zoom.us/j/9", "https://acme.zoom.us/j/123?pwd=x"},
        {{}, {}, "Join: <https://teams.microsoft.com/l/meetup-join/19%3a>", "https://teams.microsoft.com/l/meetup-join/19%3A"},
        {"https://whereby.com/team", {}, {}, "https://whereby.com/team"},
        {{}, {}, "\"https://teams.live.com/meet/93\" tail", "https://teams.live.com/meet/93"},
        {{}, {}, "https://company.webex.com/meet/jan", "https://company.webex.com/meet/jan"},
        {{}, {}, "HTTPS://meet.google.com/abc", ""},
        {{}, {}, "https://evilzoom.us/j/1", ""},
        {{}, {}, "https://meet.google.com.example.net/abc", ""},
        {{}, {}, "https://zoom.us.example.net/j/1", ""},
        {{}, {}, "http://meet.google.com/abc", ""},
        {{}, {}, "https://meet.google.com/", ""},
    };
    for (const auto& row : rows) {
        CalendarEvent e;
        e.url = row.url;
        e.location = row.location;
        e.notes = row.notes;
        const auto link = EventService::meetingLink(e);
        EXPECT_EQ(link ? link->toString() : QString(), QString::fromUtf8(row.expected))
            << row.notes.value_or(row.location.value_or(row.url.value_or(""))).toStdString();
    }
}

} // namespace
