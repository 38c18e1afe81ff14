// Calendar and contact files are written by other programs: odd values must neither crash the
// readers nor change what the sound parts of a file say.
#include "platform/ContactStore.h"
#include "platform/IcsRecurrence.h"

#include <QTimeZone>
#include <algorithm>
#include <gtest/gtest.h>

using namespace lomex;

namespace {

QList<CalendarEvent> eventsOf(const QByteArray& body, const QDate& fromDay, int days) {
    ics::ZoneCache zones;
    const auto parsed = ics::parse("BEGIN:VCALENDAR\r\nVERSION:2.0\r\n" + body + "END:VCALENDAR\r\n", zones);
    if (!parsed || parsed->series.size() != 1) return {};
    ics::forgetLocalOffsets();
    const QDateTime from(fromDay, QTime(0, 0), QTimeZone::utc());
    auto events = ics::occurrences(parsed->series[0], "c", from, from.addDays(days));
    std::sort(events.begin(), events.end(), [](const auto& a, const auto& b) { return a.start < b.start; });
    return events;
}

QList<int> daysOf(const QList<CalendarEvent>& events) {
    QList<int> out;
    for (const auto& e : events) out << (e.allDay ? e.start.toLocalTime().date().day() : e.start.toUTC().date().day());
    return out;
}

} // namespace

// libical accepts any digits as an UNTIL date; such a rule is dropped, the event stays once.
TEST(IcsHostile, AnUntilThatIsNoDayLeavesTheFirstInstance) {
    const auto events = eventsOf("BEGIN:VEVENT\r\nUID:u\r\nSUMMARY:Kurz\r\nDTSTART:20270323T151500Z\r\n"
                                 "RRULE:FREQ=DAILY;UNTIL=20235161T151459Z\r\nEND:VEVENT\r\n",
                                 QDate(2027, 3, 20), 10);
    ASSERT_EQ(events.size(), 1);
    EXPECT_EQ(events[0].start, QDateTime(QDate(2027, 3, 23), QTime(15, 15), QTimeZone::utc()));
}

// libical frees nested components recursively; a file nesting hundreds of thousands deep is
// refused before it gets there, however its lines are folded. Ordinary nesting still reads.
TEST(IcsHostile, DeepNestingIsRefused) {
    ics::ZoneCache zones;
    const int n = 400000;
    QByteArray deep = "BEGIN:VCALENDAR\r\n";
    for (int i = 0; i < n; ++i) deep += i % 2 ? "BEGIN:X-A\r\n" : "BEG\r\n IN:X-A\r\n";
    deep += QByteArray("END:X-A\r\n").repeated(n) + "END:VCALENDAR\r\n";
    QString error;
    EXPECT_FALSE(ics::parse(deep, zones, &error));
    EXPECT_FALSE(error.isEmpty());

    const auto events = eventsOf("BEGIN:VEVENT\r\nUID:a\r\nSUMMARY:S alarmem\r\nDTSTART:20270323T090000Z\r\n"
                                 "BEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER:-PT15M\r\nBEGIN:X-INNER\r\n"
                                 "END:X-INNER\r\nEND:VALARM\r\nEND:VEVENT\r\n",
                                 QDate(2027, 3, 20), 10);
    EXPECT_EQ(events.size(), 1);
}

// Rules libical would step through for centuries: a rule of hours, minutes or seconds narrowed
// by BY parts is not followed (the event stays once), and a zone whose rules change more than a
// dozen times a year is not used (its times read as floating). Both came back at once.
TEST(IcsHostile, RulesThatWouldStepForCenturiesAreNotFollowed) {
    for (const char* rule : {"FREQ=SECONDLY;BYMONTH=2;BYMONTHDAY=30", "FREQ=MINUTELY;BYYEARDAY=366;BYMONTH=1",
                             "FREQ=HOURLY;BYMONTH=2;BYMONTHDAY=30", "FREQ=DAILY;BYMONTH=2;BYMONTHDAY=30",
                             "FREQ=YEARLY;BYMONTH=1;BYYEARDAY=-1", "FREQ=MONTHLY;BYMONTHDAY=31;BYMONTH=4,6,9"}) {
        const auto events = eventsOf(QByteArray("BEGIN:VEVENT\r\nUID:r\r\nSUMMARY:x\r\nDTSTART:20270323T090000Z\r\nRRULE:") +
                                         rule + "\r\nEND:VEVENT\r\n",
                                     QDate(2027, 3, 20), 10);
        EXPECT_EQ(events.size(), 1) << rule;
    }
    EXPECT_EQ(eventsOf("BEGIN:VEVENT\r\nUID:h\r\nSUMMARY:x\r\nDTSTART:20270323T090000Z\r\nRRULE:FREQ=HOURLY;COUNT=3\r\n"
                       "END:VEVENT\r\n", QDate(2027, 3, 20), 10).size(), 3) << "plain hourly rules still run";
    // Rare days are still days: 29 February, the last day of the year, a Friday the 13th.
    for (const char* rule : {"FREQ=YEARLY;BYMONTH=2;BYMONTHDAY=29", "FREQ=YEARLY;BYYEARDAY=-1",
                             "FREQ=MONTHLY;BYDAY=FR;BYMONTHDAY=13", "FREQ=WEEKLY;BYDAY=SU,MO;BYMONTH=3"}) {
        ics::Time due;
        due.kind = ics::Time::Kind::utc;
        due.date = QDate(2026, 1, 1);
        due.time = QTime(9, 0);
        EXPECT_TRUE(ics::nextDue(rule, due)) << rule;
    }

    const QByteArray zone = "BEGIN:VTIMEZONE\r\nTZID:Mine\r\nBEGIN:STANDARD\r\nDTSTART:19700101T000000\r\n"
                            "TZOFFSETFROM:+0500\r\nTZOFFSETTO:+0500\r\nRRULE:FREQ=%1\r\nEND:STANDARD\r\nEND:VTIMEZONE\r\n"
                            "BEGIN:VEVENT\r\nUID:z\r\nSUMMARY:x\r\nDTSTART;TZID=Mine:20270323T090000\r\nEND:VEVENT\r\n";
    qputenv("TZ", "UTC");
    const std::pair<const char*, int> zones[] = {
        {"SECONDLY", 9}, {"YEARLY;BYDAY=SU", 9}, {"YEARLY;BYMONTH=1,2,3,4,5,6,7,8,9,10,11,12;BYMONTHDAY=1", 4},
        {"YEARLY;BYMINUTE=0;BYHOUR=2;BYDAY=1SU;BYMONTH=11", 4}};
    for (const auto& [freq, hour] : zones) {
        const auto events = eventsOf(QByteArray(zone).replace("%1", freq), QDate(2027, 3, 20), 10);
        ASSERT_EQ(events.size(), 1) << freq;
        EXPECT_EQ(events[0].start.toUTC().time(), QTime(hour, 0)) << freq << ": 9 is floating (read in UTC here)";
    }
    qunsetenv("TZ");
}

// Skipped and moved instances matched by day or by instant, whichever side is a date.
TEST(IcsHostile, ExceptionsOfEveryFormSkipTheirInstances) {
    const auto timed = eventsOf("BEGIN:VEVENT\r\nUID:t\r\nSUMMARY:Porada\r\nDTSTART:20270322T090000Z\r\n"
                                "DURATION:PT1H\r\nRRULE:FREQ=DAILY;COUNT=6\r\n"
                                "EXDATE;VALUE=DATE:20270323\r\nEXDATE:20270324T090000Z\r\n"
                                "EXDATE:20270326T100000Z\r\nEND:VEVENT\r\n"
                                "BEGIN:VEVENT\r\nUID:t\r\nSUMMARY:Porada\r\nRECURRENCE-ID:20270325T090000Z\r\n"
                                "DTSTART:20270325T150000Z\r\nDURATION:PT1H\r\nEND:VEVENT\r\n",
                                QDate(2027, 3, 21), 10);
    EXPECT_EQ(daysOf(timed), (QList<int>{22, 25, 26, 27}));
    ASSERT_EQ(timed.size(), 4);
    EXPECT_EQ(timed[1].start.time(), QTime(15, 0)); // the moved one, not the original

    const auto allDay = eventsOf("BEGIN:VEVENT\r\nUID:d\r\nSUMMARY:Dovolena\r\nDTSTART;VALUE=DATE:20270322\r\n"
                                 "RRULE:FREQ=DAILY;COUNT=4\r\nEXDATE:20270323T120000Z\r\n"
                                 "EXDATE;VALUE=DATE:20270324\r\nEND:VEVENT\r\n",
                                 QDate(2027, 3, 20), 10);
    EXPECT_EQ(daysOf(allDay), (QList<int>{22, 25}));
}

// Rules without BY parts are counted out rather than stepped through libical: the same rule
// with BY parts that change nothing (so libical steps it) gives the same instances.
TEST(IcsRecurrence, EvenlySpacedRulesMatchSteppedOnes) {
    const struct {
        const char* start;
        const char* plain;
        const char* stepped;
        bool shown = true; // in the week of 22 March 2027
    } rows[] = {
        {"DTSTART;TZID=Europe/Prague:20270301T093000", "FREQ=DAILY;COUNT=400", "FREQ=DAILY;COUNT=400;BYHOUR=9;BYMINUTE=30"},
        {"DTSTART;TZID=Europe/Prague:20261020T020000", "FREQ=DAILY", "FREQ=DAILY;BYHOUR=2"},
        {"DTSTART:20270315T170000Z", "FREQ=WEEKLY;INTERVAL=2", "FREQ=WEEKLY;INTERVAL=2;BYDAY=MO"},
        {"DTSTART:20270318T080000", "FREQ=DAILY;INTERVAL=3;UNTIL=20270329T080000Z",
         "FREQ=DAILY;INTERVAL=3;UNTIL=20270329T080000Z;BYMINUTE=0"},
        {"DTSTART;VALUE=DATE:20260105", "FREQ=WEEKLY;COUNT=70", "FREQ=WEEKLY;COUNT=70;BYDAY=MO"},
        {"DTSTART;VALUE=DATE:20270320", "FREQ=DAILY;UNTIL=20270325", "FREQ=DAILY;UNTIL=20270325;BYMONTH=3"},
        {"DTSTART:20270322T000000Z", "FREQ=HOURLY;INTERVAL=6;COUNT=30", "FREQ=DAILY;BYHOUR=0,6,12,18;COUNT=30"},
        // Counted from long ago: what the count still reaches, both ways, skipping ahead or not.
        {"DTSTART;TZID=Europe/Prague:20180305T170000", "FREQ=WEEKLY;INTERVAL=2;COUNT=400",
         "FREQ=WEEKLY;INTERVAL=2;COUNT=400;BYDAY=MO"},
        {"DTSTART;TZID=Europe/Prague:20180301T073000", "FREQ=DAILY;INTERVAL=3;COUNT=5000",
         "FREQ=DAILY;INTERVAL=3;COUNT=5000;BYMINUTE=30"},
        {"DTSTART:19500101T090000Z", "FREQ=DAILY;COUNT=30000", "FREQ=DAILY;COUNT=30000;BYHOUR=9"},
        {"DTSTART:19500101T090000Z", "FREQ=DAILY;COUNT=20000", "FREQ=DAILY;COUNT=20000;BYHOUR=9", false},
    };
    qputenv("TZ", "Europe/Prague");
    for (const auto& row : rows) {
        for (const QDate& from : {QDate(2027, 3, 22), QDate(2026, 10, 24)}) {
            auto titles = [&](const char* rule) {
                QStringList out;
                for (const CalendarEvent& e : eventsOf(QByteArray("BEGIN:VEVENT\r\nUID:e\r\nSUMMARY:x\r\n") + row.start +
                                                           "\r\nDURATION:PT30M\r\nRRULE:" + rule + "\r\nEND:VEVENT\r\n",
                                                       from, 9))
                    out << e.start.toString(Qt::ISODate);
                return out;
            };
            const QStringList plain = titles(row.plain);
            EXPECT_EQ(plain, titles(row.stepped)) << row.plain << " from " << from.toString(Qt::ISODate).toStdString();
            if (from == QDate(2027, 3, 22)) {
                EXPECT_EQ(!plain.isEmpty(), row.shown) << row.plain;
            }
        }
    }
    qunsetenv("TZ");
}

// A counted rule whose steps run out long before the days asked about is not stepped again for
// later days: the GUI thread's queries would pay for it every time the agenda moves on.
TEST(IcsHostile, ACountedRuleOutOfReachIsNotSteppedAgain) {
    ics::ZoneCache zones;
    const auto parsed = ics::parse("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\nUID:u\r\nSUMMARY:x\r\n"
                                   "DTSTART:19000101T090000Z\r\nRRULE:FREQ=MONTHLY;BYMONTHDAY=1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21,22,23,24,25,26,27,28;COUNT=999999999\r\n"
                                   "END:VEVENT\r\nEND:VCALENDAR\r\n", zones);
    ASSERT_TRUE(parsed && parsed->series.size() == 1);
    const QDateTime from(QDate(2027, 3, 22), QTime(0, 0), QTimeZone::utc());
    const int laterDays[] = {0, 1, 60, 400};
    for (int later : laterDays) {
        ics::StepBudget budget{1000000};
        EXPECT_TRUE(ics::occurrences(parsed->series[0], "c", from.addDays(later), from.addDays(later + 7), &budget).isEmpty());
        EXPECT_EQ(budget.spent, later == 0 ? ics::maxRuleSteps : 0) << later;
    }
}
