#include "QStringPrint.h"
#include "TestEnv.h"
#include "calendar/Calendar.h"
#include "calendar/CzechCalendar.h"
#include "calendar/ParseMode.h"
#include "calendar/QuickAddParser.h"
#include "CalendarTestSupport.h"
#include "FakeClock.h"
#include "core/Clock.h"

#include <QTemporaryFile>
#include <QTimeZone>
#include <cstdio>
#include <unistd.h>

namespace lomex {
namespace {

using Kind = QuickAddResult::Kind;
constexpr Kind E = Kind::event;
constexpr Kind R = Kind::reminder;

Calendar prague() { return *Calendar::withTimeZone("Europe/Prague"); }

QDateTime at(const char* local) {
    QDateTime d = QDateTime::fromString(QString::fromLatin1(local), "yyyy-MM-dd HH:mm");
    d.setTimeZone(QTimeZone("Europe/Prague"));
    return d;
}

QString show(const std::optional<QDateTime>& d) {
    if (!d) return "-";
    return d->toTimeZone(QTimeZone("Europe/Prague")).toString("yyyy-MM-dd HH:mm");
}

struct Row {
    const char* line;
    const char* title;
    Kind kind;
    const char* start; // Prague wall time, "-" for none
    const char* end;
    bool hasTime;
    int priority = 0;
    const char* list = nullptr;
    bool explicitKind = false;
};

void check(const Row& row, const QDateTime& now) {
    const QuickAddResult r = QuickAddParser::parse(QString::fromUtf8(row.line), now, prague());
    SCOPED_TRACE(row.line);
    EXPECT_EQ(r.title, QString::fromUtf8(row.title));
    EXPECT_EQ(QuickAddResult::rawValue(r.kind), QuickAddResult::rawValue(row.kind));
    EXPECT_EQ(show(r.start), QString::fromLatin1(row.start));
    EXPECT_EQ(show(r.end), QString::fromLatin1(row.end));
    EXPECT_EQ(r.hasTime, row.hasTime);
    EXPECT_EQ(r.priority, row.priority);
    EXPECT_EQ(r.listName, row.list ? std::optional<QString>(QString::fromUtf8(row.list)) : std::nullopt);
    EXPECT_EQ(r.explicitKind, row.explicitKind);
}

// Tuesday 8 December 2026, 14:30 in Prague.
const QDateTime kNow = at("2026-12-08 14:30");

TEST(QuickAddParser, CzechLines) {
    const Row rows[] = {
        {"zítra v 10 porada s Petrem na hodinu", "Porada s Petrem", E, "2026-12-09 10:00", "2026-12-09 11:00", true},
        {"Připomeň mi zaplatit nájem v pátek !!", "Zaplatit nájem", R, "2026-12-11 00:00", "-", false, 1, nullptr, true},
        {"oběd ve 12", "Oběd", E, "2026-12-09 12:00", "2026-12-09 13:00", true},
        {"schůzka 24.12.", "Schůzka", E, "2026-12-24 00:00", "-", false},
        {"schůzka 3.1.", "Schůzka", E, "2027-01-03 00:00", "-", false},
        {"výročí 3. 1. 2026", "Výročí", R, "2026-01-03 00:00", "-", false},
        {"porada od 10 do 11:30", "Porada", E, "2026-12-09 10:00", "2026-12-09 11:30", true},
        {"trénink 18-20", "Trénink", E, "2026-12-08 18:00", "2026-12-08 20:00", true},
        {"pohovor od 11 do 1", "Pohovor", E, "2026-12-09 11:00", "2026-12-09 13:00", true},
        {"seminář od 10 do 9", "Seminář", E, "2026-12-09 10:00", "2026-12-09 21:00", true},
        {"za 3 dny zubař", "Zubař", E, "2026-12-11 00:00", "-", false},
        {"za dva týdny vyúčtování", "Vyúčtování", R, "2026-12-22 00:00", "-", false},
        {"za měsíc nájem", "Nájem", R, "2027-01-08 00:00", "-", false},
        {"za 20 minut čaj", "Čaj", R, "2026-12-08 14:50", "-", true},
        {"dnes večer kino", "Kino", E, "2026-12-08 19:00", "2026-12-08 20:00", true},
        {"zítra ráno běhat", "Běhat", R, "2026-12-09 08:00", "-", true},
        {"v 3 odpoledne kafe", "Kafe", E, "2026-12-08 15:00", "2026-12-08 16:00", true},
        {"ve 4 kafe", "Kafe", E, "2026-12-08 16:00", "2026-12-08 17:00", true},
        {"ve 2 v noci hlídka", "Hlídka", E, "2026-12-09 02:00", "2026-12-09 03:00", true},
        {"pozítří divadlo", "Divadlo", E, "2026-12-10 00:00", "-", false},
        {"o víkendu výlet", "Výlet", E, "2026-12-12 00:00", "-", false},
        // "dnes večer" keeps the evening against a later part of day; a numeric date skips month names.
        {"dnes večer v 8 ráno kino", "Kino", E, "2026-12-08 20:00", "2026-12-08 21:00", true},
        {"schůzka 24.12. 15. března", "Schůzka 15. března", E, "2026-12-24 00:00", "-", false},
        {"příští pondělí standup v 9:15", "Standup", E, "2026-12-14 09:15", "2026-12-14 10:15", true},
        {"úterý úklid", "Úklid", R, "2026-12-15 00:00", "-", false},
        {"15. března oslava", "Oslava", E, "2027-03-15 00:00", "-", false},
        {"workshop zítra v 9 na 1,5 hodiny", "Workshop", E, "2026-12-09 09:00", "2026-12-09 10:30", true},
        {"koupit mléko @Nákup !", "Koupit mléko", R, "-", "-", false, 5, "Nákup"},
        {"todo: koupit dárky", "Koupit dárky", R, "-", "-", false, 0, nullptr, true},
        {"připomeň mi událost porada zítra", "Porada", E, "2026-12-09 00:00", "-", false, 0, nullptr, true},
        {"zavolat Janě v 18", "Zavolat Janě", R, "2026-12-08 18:00", "-", true},
        {"zavolat Janě v 18 na 15 minut", "Zavolat Janě", E, "2026-12-08 18:00", "2026-12-08 18:15", true},
        {"porada na dvě hodiny zítra v 8", "Porada", E, "2026-12-09 08:00", "2026-12-09 10:00", true},
        {"!!!! test", "!!!! test", R, "-", "-", false},
        {"koncert", "Koncert", R, "-", "-", false},
        // Three characters, five UTF-16 units: too short for an infinitive.
        {"𐐨𐐨t v 10", "𐐀𐐨t", E, "2026-12-09 10:00", "2026-12-09 11:00", true},
    };
    for (const Row& row : rows) check(row, kNow);
    // On a Saturday the weekend is today.
    check({"o víkendu výlet", "Výlet", E, "2026-12-12 00:00", "-", false}, at("2026-12-12 08:00"));
}

TEST(QuickAddParser, EnglishLines) {
    const Row rows[] = {
        {"dentist tomorrow at 9am", "Dentist", E, "2026-12-09 09:00", "2026-12-09 10:00", true},
        {"call mom at 5pm", "Call mom", R, "2026-12-08 17:00", "-", true},
        {"call mom at 5pm for 30 min", "Call mom", E, "2026-12-08 17:00", "2026-12-08 17:30", true},
        {"remind me to buy milk tomorrow at 7", "Buy milk", R, "2026-12-09 19:00", "-", true, 0, nullptr, true},
        {"event gym friday", "Gym", E, "2026-12-11 00:00", "-", false, 0, nullptr, true},
        {"lunch 12:30pm", "Lunch", E, "2026-12-09 12:30", "2026-12-09 13:30", true},
        {"flight 7:05 am", "Flight", E, "2026-12-09 07:05", "2026-12-09 08:05", true},
        {"breakfast 12am", "Breakfast", E, "2026-12-09 00:00", "2026-12-09 01:00", true},
        {"dinner at 8 in the evening", "Dinner", E, "2026-12-08 20:00", "2026-12-08 21:00", true},
        {"sync afternoon", "Sync", E, "2026-12-08 15:00", "2026-12-08 16:00", true},
        {"call in 2 hours", "Call", R, "2026-12-08 16:30", "-", true},
        {"coffee in an hour", "Coffee", E, "2026-12-08 15:30", "2026-12-08 16:30", true},
        {"party dec 24th", "Party", E, "2026-12-24 00:00", "-", false},
        {"review April 1, 2027", "Review", R, "2027-04-01 00:00", "-", false},
        {"interview 9:00 – 9:45", "Interview", E, "2026-12-09 09:00", "2026-12-09 09:45", true},
        {"standup on the weekend", "Standup", E, "2026-12-12 00:00", "-", false},
        {"pay rent in 3 weeks !!!", "Pay rent", R, "2026-12-29 00:00", "-", false, 1},
        {"workshop for two hours today at 4", "Workshop", E, "2026-12-08 16:00", "2026-12-08 18:00", true},
        {"water plants @Home", "Water plants", R, "-", "-", false, 0, "Home"},
        {"meeting at noon day after tomorrow", "Meeting", E, "2026-12-10 12:00", "2026-12-10 13:00", true},
    };
    for (const Row& row : rows) check(row, kNow);
}

TEST(QuickAddParser, ResultsAreTheSameWhenTheMomentDoes) {
    const QuickAddResult a = QuickAddParser::parse("porada zítra v 9", kNow, prague());
    EXPECT_EQ(a, QuickAddParser::parse("porada zítra v 9", kNow, prague()));
    EXPECT_FALSE(a == QuickAddParser::parse("porada zítra v 10", kNow, prague()));
    EXPECT_EQ(QuickAddResult::kindFromRaw("event"), Kind::event);
    EXPECT_EQ(QuickAddResult::kindFromRaw("reminder"), Kind::reminder);
    EXPECT_FALSE(QuickAddResult::kindFromRaw("task"));
}

TEST(QuickAddParser, BlankLine) {
    for (const char* line : {"", "   "}) {
        const QuickAddResult r = QuickAddParser::parse(line, kNow, prague());
        EXPECT_EQ(r.title, "");
        EXPECT_EQ(r.kind, Kind::reminder);
        EXPECT_FALSE(r.start);
        EXPECT_EQ(r.priority, 0);
    }
    // Nothing but recognised words: the title falls back to the line.
    EXPECT_EQ(QuickAddParser::parse(" zítra ", kNow, prague()).title, QStringLiteral("zítra"));
}

// Weekdays and "next week" from every day of one week: the named day of the following ISO week.
TEST(QuickAddParser, NextWeekAlwaysLandsInTheFollowingWeek) {
    for (int offset = 0; offset < 7; ++offset) {
        const QDateTime now = prague().addingDays(offset, at("2026-12-07 12:00")); // Monday..Sunday
        for (const char* line : {"příští týden v pátek oběd", "next week on friday lunch", "oběd příští pátek",
                                 "friday next week lunch"}) {
            const QuickAddResult r = QuickAddParser::parse(line, now, prague());
            SCOPED_TRACE(std::string(line) + " on day " + std::to_string(offset));
            ASSERT_TRUE(r.start);
            EXPECT_EQ(prague().weekday(*r.start), 6);
            EXPECT_EQ(prague().isoWeek(*r.start).week, prague().isoWeek(now).week + 1);
        }
        // A plain weekday is the next one, a week ahead when it is today.
        const QuickAddResult plain = QuickAddParser::parse("pátek", now, prague());
        const qint64 ahead = prague().daysBetween(now, *plain.start);
        EXPECT_GE(ahead, 1);
        EXPECT_LE(ahead, 7);
        EXPECT_EQ(prague().weekday(*plain.start), 6);
    }
    // "next week" alone is the Monday of that week.
    EXPECT_EQ(show(QuickAddParser::parse("next week", kNow, prague()).start), "2026-12-14 00:00");
}

// Faults of a literal reading that this parser avoids.
TEST(QuickAddParser, NumbersThatAreNoTimesOrDatesStayInTheTitle) {
    const Row rows[] = {
        {"porada v 10. patře", "Porada v 10. patře", R, "-", "-", false},
        {"sraz v 10 lidí", "Sraz v 10 lidí", R, "-", "-", false},
        {"porada v 123", "Porada v 123", R, "-", "-", false},
        {"porada 31.2.", "Porada 31.2", // a closing full stop is trimmed like any other
         R, "-", "-", false},
        {"porada 31.04.", "Porada 31.04", R, "-", "-", false},
        {"porada 5.13.", "Porada 5.13", R, "-", "-", false},
        {"porada 30.2.", "Porada 30.2", R, "-", "-", false},
        {"porada 29.2.2027", "Porada 29.2.2027", R, "-", "-", false},
        {"porada 29.2.2028", "Porada", E, "2028-02-29 00:00", "-", false},
        {"porada 31.45.", "Porada 31.45", R, "-", "-", false},
        {"sraz v 10.30.", "Sraz", E, "2026-12-09 10:30", "2026-12-09 11:30", true},
        {"úklid za 99999999999 dní", "Úklid za 99999999999 dní", R, "-", "-", false},
        {"úklid za 100000 měsíců", "Úklid za 100000 měsíců", R, "-", "-", false},
        {"úklid za 5000 pracovních dní", "Úklid za 5000 pracovních dní", R, "-", "-", false},
        {"úklid za 10 minut", "Úklid", R, "2026-12-08 14:40", "-", true},
        {"porada na 99999999999999999999 hodin", "Porada na 99999999999999999999 hodin", R, "-", "-", false},
        {"oslava 31.12. ve 24:00", "Oslava", E, "2027-01-01 00:00", "2027-01-01 01:00", true},
        {"směna od 22 do 2", "Směna", E, "2026-12-08 22:00", "2026-12-09 02:00", true},
        {"směna 21-7", "Směna", E, "2026-12-08 21:00", "2026-12-09 07:00", true},
        {"oslava ve 24", "Oslava", E, "2026-12-09 00:00", "2026-12-09 01:00", true},
        {"oslava v 25:00", "Oslava", R, "-", "-", false},
        {"dnes v 10:75 večer kino", "Kino", E, "2026-12-08 19:00", "2026-12-08 20:00", true},
        {"údržba 1.2.20255", "Údržba 20255", R, "2027-02-01 00:00", "-", false},
    };
    for (const Row& row : rows) check(row, kNow);
}

// A 29 February without a year is the next one that exists, even years ahead.
TEST(QuickAddParser, TwentyNinthOfFebruaryIsTheNextOneThatExists) {
    const Row june2028[] = {
        {"zubař 29. února v 10", "Zubař", E, "2032-02-29 10:00", "2032-02-29 11:00", true},
        {"porada 29.2.", "Porada", E, "2032-02-29 00:00", "-", false},
        {"call mom feb 29 at 5pm", "Call mom", R, "2032-02-29 17:00", "-", true},
    };
    for (const Row& row : june2028) check(row, at("2028-06-01 09:00"));
    check({"porada 29.2.", "Porada", E, "2028-02-29 00:00", "-", false}, kNow);
    check({"porada 29.2.", "Porada", E, "2028-02-29 00:00", "-", false}, at("2028-02-29 18:00"));
    check({"porada 29. února", "Porada", E, "2104-02-29 00:00", "-", false}, at("2096-03-01 09:00")); // 2100 has none
}

// Overnight ranges end at the typed hour on the next day, also when the end hour plus twelve
// is the start hour.
TEST(QuickAddParser, OvernightRangesEndTheNextDay) {
    const Row rows[] = {
        {"Směna zítra 22-10", "Směna", E, "2026-12-09 22:00", "2026-12-10 10:00", true},
        {"noční od 20 do 8", "Noční", E, "2026-12-08 20:00", "2026-12-09 08:00", true},
        {"porada od 15 do 3", "Porada", E, "2026-12-08 15:00", "2026-12-09 03:00", true},
        {"noční od 20 do 8:30", "Noční", E, "2026-12-08 20:00", "2026-12-09 08:30", true},
        // Not overnight: the same hour typed twice, or an end that the evening reading puts later.
        {"kafe od 7 do 7:30", "Kafe", E, "2026-12-08 19:00", "2026-12-08 19:30", true},
        {"porada od 10 do 10:30", "Porada", E, "2026-12-09 10:00", "2026-12-09 10:30", true},
        {"seminář od 10 do 9", "Seminář", E, "2026-12-09 10:00", "2026-12-09 21:00", true},
        // A rising range stays as typed when the afternoon reading of its start would turn it around.
        {"porada 7-12", "Porada", E, "2026-12-09 07:00", "2026-12-09 12:00", true},
        {"porada zítra od 1 do 12", "Porada", E, "2026-12-09 01:00", "2026-12-09 12:00", true},
        {"porada od 5 do 9", "Porada", E, "2026-12-08 17:00", "2026-12-08 21:00", true},
    };
    for (const Row& row : rows) check(row, kNow);
}

// Words are whole characters: a blank with a combining mark or a variation selector is part of
// its word, and the infinitive rule counts characters.
TEST(QuickAddParser, WordsAreWholeCharacters) {
    const Row rows[] = {
        {"o \u0301x v 10", "O \u0301x", E, "2026-12-09 10:00", "2026-12-09 11:00", true},
        {"o \uFE0Fx v 10", "O \uFE0Fx", E, "2026-12-09 10:00", "2026-12-09 11:00", true},
        {"\u0915\u093E\u0915\u093E\u0915\u093Et v 10", "\u0915\u093E\u0915\u093E\u0915\u093Et", R, "2026-12-09 10:00", "-", true},
        {"\u0915\u093E\u0915\u093Et v 10", "\u0915\u093E\u0915\u093Et", E, "2026-12-09 10:00", "2026-12-09 11:00", true},
    };
    for (const Row& row : rows) check(row, kNow);
}

// Sentence-final Czech clock notation is a time; impossible dates stay in the title.
TEST(QuickAddParser, DottedClockTimes) {
    const Row rows[] = {
        {"Sraz zítra 18.30.", "Sraz", E, "2026-12-09 18:30", "2026-12-09 19:30", true},
        {"sraz 18.30. 24.12.", "Sraz", E, "2026-12-24 18:30", "2026-12-24 19:30", true},
        {"oběd 12.45.", "Oběd", E, "2026-12-09 12:45", "2026-12-09 13:45", true},
        {"sraz 18.30. u kašny", "Sraz u kašny", E, "2026-12-08 18:30", "2026-12-08 19:30", true},
        {"sraz 18.30.2027", "Sraz 18.30.2027", R, "-", "-", false},
        {"porada 5.13.", "Porada 5.13", R, "-", "-", false},
        {"porada 18. 30.", "Porada 18. 30", R, "-", "-", false},
        {"porada 24.30.", "Porada 24.30", R, "-", "-", false},
        // Shaped like a dotted time, yet no time step reads it (a range or an earlier time was
        // read instead): its full stop stays in the title with it.
        {"weekend 4.14. lidech od 9 do 10", "Weekend 4.14. lidech", E, "2026-12-09 09:00", "2026-12-09 10:00", true},
        {"v 8:30 passport 10.14. 29", "Passport 10.14. 29", R, "2026-12-09 08:30", "-", true},
        {"weekend 4.14. lidech", "Weekend lidech", E, "2026-12-08 16:14", "2026-12-08 17:14", true},
    };
    for (const Row& row : rows) check(row, kNow);
}

// Every count stops at the same distance, about ten years, whatever its unit.
// A leading zero marks a 24-hour time: the bare-hour afternoon reading does not apply to it.
TEST(QuickAddParser, ZeroPaddedHoursAreMorningHours) {
    const Row rows[] = {
        {"sraz 07:30", "Sraz", E, "2026-12-09 07:30", "2026-12-09 08:30", true},
        {"sraz v 05", "Sraz", E, "2026-12-09 05:00", "2026-12-09 06:00", true},
        {"sraz 7:30", "Sraz", E, "2026-12-08 19:30", "2026-12-08 20:30", true},
        {"sraz 07:30 večer", "Sraz", E, "2026-12-08 19:30", "2026-12-08 20:30", true},
        {"směna od 06 do 14", "Směna", E, "2026-12-09 06:00", "2026-12-09 14:00", true},
        {"směna od 22 do 06", "Směna", E, "2026-12-08 22:00", "2026-12-09 06:00", true},
        {"porada od 07 do 05", "Porada", E, "2026-12-09 07:00", "2026-12-10 05:00", true},
        {"porada od 10 do 03", "Porada", E, "2026-12-09 10:00", "2026-12-10 03:00", true},
    };
    for (const Row& row : rows) check(row, kNow);
}

TEST(QuickAddParser, CountsShareOneBound) {
    const Calendar cal = prague();
    struct Bound { const char* inside; const char* outside; };
    const Bound bounds[] = {
        {"za 3660 dní", "za 3661 dní"},
        {"za 522 týdnů", "za 523 týdnů"},
        {"za 120 měsíců", "za 121 měsíců"},
        {"za 87840 hodin", "za 87850 hodin"},
        {"za 5270400 minut", "za 5271000 minut"},
    };
    for (const Bound& b : bounds) {
        const QuickAddResult in = QuickAddParser::parse(QString::fromUtf8(b.inside), kNow, cal);
        ASSERT_TRUE(in.start) << b.inside;
        EXPECT_LE(cal.daysBetween(kNow, *in.start), 3660) << b.inside;
        EXPECT_GE(cal.daysBetween(kNow, *in.start), 3640) << b.inside;
        EXPECT_FALSE(QuickAddParser::parse(QString::fromUtf8(b.outside), kNow, cal).start) << b.outside;
    }
    // Working days: the last count whose day is within the bound is taken, the next one is not.
    int n = 2400;
    while (cal.daysBetween(kNow, CzechCalendar::adding(n + 1, kNow, cal)) <= 3660) ++n;
    const auto workdays = [&](int count) {
        return QuickAddParser::parse(QStringLiteral("úklid za %1 pracovních dní").arg(count), kNow, cal);
    };
    EXPECT_EQ(workdays(n).start, CzechCalendar::adding(n, kNow, cal));
    EXPECT_EQ(workdays(n).title, QStringLiteral("Úklid"));
    EXPECT_FALSE(workdays(n + 1).start);
}

TEST(QuickAddParser, WorkingDaysSkipWeekendsAndHolidays) {
    const Row rows[] = {
        {"za 2 pracovní dny report", "Report", R, "2026-12-10 00:00", "-", false},
        {"in three business days send invoice", "Send invoice", R, "2026-12-11 00:00", "-", false},
        {"za jeden pracovní den faktura", "Faktura", R, "2026-12-09 00:00", "-", false},
    };
    for (const Row& row : rows) check(row, kNow);
    // Wednesday 23 December: the 24th to 26th are holidays and the 27th a Sunday.
    check({"za 1 pracovní den faktura", "Faktura", R, "2026-12-28 00:00", "-", false}, at("2026-12-23 09:00"));
    // Friday afternoon: the next working day is Monday; a weekday named later wins.
    check({"in 1 working day report", "Report", R, "2026-12-14 00:00", "-", false}, at("2026-12-11 16:00"));
    check({"za 2 pracovní dny v pátek report", "Report", R, "2026-12-18 00:00", "-", false}, at("2026-12-11 16:00"));
}

TEST(QuickAddParser, DaylightSavingDays) {
    // Spring forward on Sunday 28 March 2027: 02:30 does not exist and becomes 03:00.
    check({"zítra ve 2:30 v noci hlídka", "Hlídka", E, "2027-03-28 03:00", "2027-03-28 04:00", true}, at("2027-03-27 12:00"));
    check({"porada zítra ve 2:30 v noci na hodinu", "Porada", E, "2027-03-28 03:00", "2027-03-28 04:00", true},
          at("2027-03-27 12:00"));
    // Elapsed hours across the change: one o'clock plus two hours is four.
    check({"za 2 hodiny", "za 2 hodiny", R, "2027-03-28 04:30", "-", true}, at("2027-03-28 01:30"));
    // Fall back on Sunday 25 October 2026: 02:30 happens twice; the first one is meant.
    const QuickAddResult r = QuickAddParser::parse("porada 25.10. ve 2:30 v noci", at("2026-10-20 12:00"), prague());
    ASSERT_TRUE(r.start && r.end);
    EXPECT_EQ(r.start->toTimeZone(QTimeZone("Europe/Prague")).offsetFromUtc(), 7200);
    EXPECT_EQ(r.start->secsTo(*r.end), 3600);
    EXPECT_EQ(show(r.end), "2026-10-25 02:30"); // the second 02:30, an hour later
    // Day steps keep the wall clock across the change.
    check({"za 7 dní v 9 porada", "Porada", E, "2026-10-27 09:00", "2026-10-27 10:00", true}, at("2026-10-20 12:00"));
}

TEST(QuickAddParser, ParseModeLine) {
    const QuickAddResult r = QuickAddParser::parse("zítra v 10 porada s Petrem na hodinu", kNow, prague());
    EXPECT_EQ(parseModeLine(r, prague()),
              QStringLiteral("\"Porada s Petrem\" st 9.12.2026 10:00 st 9.12.2026 11:00 true 0 -"));
    const QuickAddResult list = QuickAddParser::parse("koupit mléko @Nákup !", kNow, prague());
    EXPECT_EQ(parseModeLine(list, prague()), QStringLiteral("\"Koupit mléko\" - - false 5 Nákup"));
}

TEST(QuickAddParser, OddInputNeverLosesTheLine) {
    QString longLine;
    for (int i = 0; i < 200; ++i) longLine += QStringLiteral("zítra v 10 !! @x za 3 dny 1.2. ");
    const QString odd[] = {
        "@", "!", "!!!", "na", "v", "za", "od 10 do", "10-", "99:99", "za 2", "za pracovní dny",
        QStringLiteral("👍🏽👍🏽 v 10"), QStringLiteral("\u0301\u0301 zítra"), QStringLiteral("za ١٢ dní"),
        QStringLiteral("v ٣ odpoledne"), "na 1e400 hodin", "na nan hodin", "for inf min", "12/13/2026",
        "00.00.", "0/0", "v 0", "at 0am", "event", "todo:", longLine,
    };
    for (const QString& line : odd) {
        const QuickAddResult r = QuickAddParser::parse(line, kNow, prague());
        SCOPED_TRACE(line.left(40).toStdString());
        EXPECT_FALSE(r.title.isEmpty());
        EXPECT_TRUE(!r.start || r.start->isValid());
        EXPECT_TRUE(!r.end || (r.start && r.end->isValid() && *r.end >= *r.start));
        EXPECT_TRUE(r.kind == QuickAddResult::Kind::event || !r.end);
    }
    // Digits of other scripts count like ASCII ones.
    EXPECT_EQ(show(QuickAddParser::parse(QStringLiteral("za ١٢ dní"), kNow, prague()).start), "2026-12-20 00:00");
    EXPECT_EQ(show(QuickAddParser::parse(QStringLiteral("v ٣ odpoledne"), kNow, prague()).start), "2026-12-08 15:00");
}

// The command-line mode prints one line for the current moment and calendar.
TEST(QuickAddParser, ParseModePrintsOneLine) {
    test::ZoneScope zone{"Europe/Prague"};
    FakeClock clock{kNow};
    Clock::setCurrent(&clock);
    QTemporaryFile out;
    ASSERT_TRUE(out.open());
    std::fflush(stdout);
    const int saved = dup(fileno(stdout));
    dup2(out.handle(), fileno(stdout));
    const QString text = QStringLiteral("zítra v 10 porada s Petrem na hodinu");
    const int code = parseMode({text});
    std::fflush(stdout);
    dup2(saved, fileno(stdout));
    close(saved);
    EXPECT_EQ(code, 0);
    out.seek(0);
    Clock::setCurrent(nullptr);
    EXPECT_EQ(QString::fromUtf8(out.readAll()),
              QStringLiteral("\"Porada s Petrem\" st 9.12.2026 10:00 st 9.12.2026 11:00 true 0 -\n"));
}

} // namespace
} // namespace lomex
