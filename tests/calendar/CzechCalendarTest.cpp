#include "calendar/CzechCalendar.h"
#include "calendar/TestCzechMode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <limits>

using lomex::Calendar;
using lomex::CzechCalendar;

namespace {

Calendar prague()
{
    return *Calendar::withTimeZone("Europe/Prague");
}

QDateTime at(const Calendar& cal, int y, int m, int d, int h = 0, int mi = 0, int s = 0)
{
    auto t = cal.date(y, m, d, h, mi, s);
    EXPECT_TRUE(t.has_value()) << y << "-" << m << "-" << d;
    return t.value_or(QDateTime());
}

// Easter by Gauss's method in Lichtenberg's form, as a day of March (32 = 1 April).
QDate gaussEaster(int y)
{
    const int k = y / 100;
    const int m = 15 + (3 * k + 3) / 4 - (8 * k + 13) / 25;
    const int s = 2 - (3 * k + 3) / 4;
    const int a = y % 19;
    const int d = (19 * a + m) % 30;
    const int r = (d + a / 11) / 29;
    const int og = 21 + d - r;
    const int sz = 7 - (y + y / 4 + s) % 7;
    const int oe = 7 - (og - sz) % 7;
    return QDate(y, 3, 1).addDays(og + oe - 1);
}

std::string str(const QString& s) { return s.toStdString(); }

} // namespace

TEST(CzechCalendarEaster, MatchesAnIndependentComputation)
{
    const Calendar cal = prague();
    for (int y = 1900; y <= 2200; ++y) {
        const auto easter = CzechCalendar::easterSunday(y, cal);
        ASSERT_TRUE(easter.has_value()) << y;
        const QDate day = cal.localDate(*easter);
        ASSERT_EQ(day, gaussEaster(y)) << y;
        ASSERT_EQ(*easter, cal.startOfDay(day)) << y;
        ASSERT_EQ(cal.weekday(*easter), 1) << y;
        ASSERT_GE(day, QDate(y, 3, 22));
        ASSERT_LE(day, QDate(y, 4, 25));
    }
    EXPECT_EQ(cal.localDate(*CzechCalendar::easterSunday(2026, cal)), QDate(2026, 4, 5));
    EXPECT_EQ(cal.localDate(*CzechCalendar::easterSunday(2024, cal)), QDate(2024, 3, 31));
    EXPECT_EQ(cal.localDate(*CzechCalendar::easterSunday(1943, cal)), QDate(1943, 4, 25));
    EXPECT_EQ(cal.localDate(*CzechCalendar::easterSunday(1818, cal)), QDate(1818, 3, 22));
    EXPECT_FALSE(CzechCalendar::easterSunday(0, cal).has_value());
    EXPECT_FALSE(CzechCalendar::easterSunday(10000, cal).has_value());
}

TEST(CzechCalendarHolidays, YearListInDateOrderWithBothNames)
{
    const Calendar cal = prague();
    // The public holidays as the published Czech calendars for these years list them (Good
    // Friday only from 2016 on).
    const struct { int year; const char* days; } published[] = {
        {2015, "01-01 04-06 05-01 05-08 07-05 07-06 09-28 10-28 11-17 12-24 12-25 12-26"},
        {2016, "01-01 03-25 03-28 05-01 05-08 07-05 07-06 09-28 10-28 11-17 12-24 12-25 12-26"},
        {2019, "01-01 04-19 04-22 05-01 05-08 07-05 07-06 09-28 10-28 11-17 12-24 12-25 12-26"},
        {2024, "01-01 03-29 04-01 05-01 05-08 07-05 07-06 09-28 10-28 11-17 12-24 12-25 12-26"},
        {2025, "01-01 04-18 04-21 05-01 05-08 07-05 07-06 09-28 10-28 11-17 12-24 12-25 12-26"},
        {2027, "01-01 03-26 03-29 05-01 05-08 07-05 07-06 09-28 10-28 11-17 12-24 12-25 12-26"},
    };
    for (const auto& row : published) {
        QStringList got;
        for (const auto& h : CzechCalendar::holidays(row.year, cal)) got << cal.localDate(h.date).toString("MM-dd");
        EXPECT_EQ(got.join(u' ').toStdString(), row.days) << row.year;
    }

    struct Row { int m, d; const char* cs; const char* en; };
    const Row expected[] = {
        {1, 1, "Nový rok", "New Year's Day"},
        {4, 3, "Velký pátek", "Good Friday"},
        {4, 6, "Velikonoční pondělí", "Easter Monday"},
        {5, 1, "Svátek práce", "Labour Day"},
        {5, 8, "Den vítězství", "Victory Day"},
        {7, 5, "Cyril a Metoděj", "Saints Cyril & Methodius"},
        {7, 6, "Upálení mistra Jana Husa", "Jan Hus Day"},
        {9, 28, "Den české státnosti", "Czech Statehood Day"},
        {10, 28, "Vznik Československa", "Independent Czechoslovak State Day"},
        {11, 17, "Den boje za svobodu a demokracii", "Struggle for Freedom and Democracy Day"},
        {12, 24, "Štědrý den", "Christmas Eve"},
        {12, 25, "1. svátek vánoční", "Christmas Day"},
        {12, 26, "2. svátek vánoční", "St. Stephen's Day"},
    };
    const auto list = CzechCalendar::holidays(2026, cal);
    ASSERT_EQ(list.size(), 13u);
    for (size_t i = 0; i < 13; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(list[i].date, at(cal, 2026, expected[i].m, expected[i].d));
        EXPECT_EQ(str(list[i].cs), expected[i].cs);
        EXPECT_EQ(str(list[i].en), expected[i].en);
    }

    const auto y2024 = CzechCalendar::holidays(2024, cal);
    ASSERT_EQ(y2024.size(), 13u);
    EXPECT_EQ(y2024[1].date, at(cal, 2024, 3, 29));
    EXPECT_EQ(str(y2024[1].en), "Good Friday");
    EXPECT_EQ(y2024[2].date, at(cal, 2024, 4, 1));

    // Every year has 13 distinct holidays (12 before Good Friday became one in 2016) in strictly
    // ascending order, each at a start of day.
    for (int y = 1950; y <= 2150; ++y) {
        const auto h = CzechCalendar::holidays(y, cal);
        ASSERT_EQ(h.size(), y >= 2016 ? 13u : 12u) << y;
        ASSERT_EQ(std::count_if(h.begin(), h.end(), [](const auto& x) { return x.en == QStringLiteral("Good Friday"); }),
                  y >= 2016 ? 1 : 0)
            << y;
        for (size_t i = 0; i < h.size(); ++i) {
            ASSERT_EQ(h[i].date, cal.startOfDay(h[i].date)) << y;
            if (i > 0) {
                ASSERT_LT(h[i - 1].date, h[i].date) << y;
            }
        }
    }
    EXPECT_TRUE(CzechCalendar::holidays(10000, cal).empty());
}

TEST(CzechCalendarHolidays, HolidayOnAnyTimeOfTheDay)
{
    const Calendar cal = prague();
    for (int h : {0, 10, 23}) {
        const auto eve = CzechCalendar::holiday(at(cal, 2026, 12, 24, h, 59, 59), cal);
        ASSERT_TRUE(eve.has_value()) << h;
        EXPECT_EQ(str(eve->cs), "Štědrý den");
        EXPECT_EQ(eve->date, at(cal, 2026, 12, 24));
    }
    EXPECT_FALSE(CzechCalendar::holiday(at(cal, 2026, 12, 27, 12), cal).has_value());
    EXPECT_EQ(str(CzechCalendar::holiday(at(cal, 2026, 4, 6, 8), cal)->en), "Easter Monday");
    EXPECT_FALSE(CzechCalendar::holiday(QDateTime(), cal).has_value());
    // New Year's Day of a year past the calendar's range is no holiday it can form.
    EXPECT_FALSE(CzechCalendar::holiday(QDateTime(QDate(10000, 1, 1), QTime(12, 0), QTimeZone::utc()), cal).has_value());

    // The day is the calendar's day: 23:30 UTC on 31 December is New Year's Day in Prague only.
    const QDateTime instant(QDate(2026, 12, 31), QTime(23, 30), QTimeZone::utc());
    EXPECT_EQ(str(CzechCalendar::holiday(instant, cal)->en), "New Year's Day");
    const Calendar newYork = *Calendar::withTimeZone("America/New_York");
    EXPECT_FALSE(CzechCalendar::holiday(instant, newYork).has_value());
}

TEST(CzechCalendarHolidays, NextHolidayIsOnALaterDay)
{
    const Calendar cal = prague();
    auto next = [&](int y, int m, int d, int h = 10) { return CzechCalendar::nextHoliday(at(cal, y, m, d, h), cal); };
    EXPECT_EQ(next(2026, 12, 24)->date, at(cal, 2026, 12, 25));
    EXPECT_EQ(next(2026, 12, 26)->date, at(cal, 2027, 1, 1));
    EXPECT_EQ(next(2026, 12, 27)->date, at(cal, 2027, 1, 1));
    EXPECT_EQ(str(next(2026, 12, 31, 23)->cs), "Nový rok");
    EXPECT_EQ(next(2026, 1, 1, 0)->date, at(cal, 2026, 4, 3));
    EXPECT_EQ(next(2026, 5, 8)->date, at(cal, 2026, 7, 5));
    EXPECT_FALSE(CzechCalendar::nextHoliday(QDateTime(), cal).has_value());
}

TEST(CzechCalendarNameDays, TableEntries)
{
    const Calendar cal = prague();
    auto name = [&](int y, int m, int d) { return CzechCalendar::nameDay(at(cal, y, m, d, 12), cal); };
    for (auto [m, d] : {std::pair{1, 1}, {5, 1}, {5, 8}, {7, 6}, {10, 28}, {11, 2}, {12, 25}})
        EXPECT_FALSE(name(2026, m, d).has_value()) << m << "/" << d;

    EXPECT_EQ(str(*name(2026, 1, 6)), "Kašpar, Melichar, Baltazar");
    EXPECT_EQ(str(*name(2026, 6, 29)), "Petr, Pavel");
    EXPECT_EQ(str(*name(2026, 7, 5)), "Cyril, Metoděj");
    EXPECT_EQ(str(*name(2026, 9, 1)), "Linda, Samuel");
    EXPECT_EQ(str(*name(2026, 12, 24)), "Adam, Eva");
    EXPECT_EQ(str(*name(2026, 10, 27)), "Šarlota, Zoe");
    EXPECT_EQ(str(*name(2026, 1, 2)), "Karina");
    EXPECT_EQ(str(*name(2026, 1, 31)), "Marika");
    EXPECT_EQ(str(*name(2026, 2, 1)), "Hynek");
    EXPECT_EQ(str(*name(2026, 2, 28)), "Lumír");
    EXPECT_EQ(str(*name(2024, 2, 29)), "Horymír");
    // 1 March is the same name whether or not the year has a 29 February.
    EXPECT_EQ(str(*name(2026, 3, 1)), "Bedřich");
    EXPECT_EQ(str(*name(2024, 3, 1)), "Bedřich");
    EXPECT_EQ(str(*name(2026, 3, 19)), "Josef");
    EXPECT_EQ(str(*name(2026, 9, 28)), "Václav");
    EXPECT_EQ(str(*name(2026, 11, 30)), "Ondřej");
    EXPECT_EQ(str(*name(2026, 12, 31)), "Silvestr");

    // A whole leap year: 366 lookups, the seven empty days above and no other gap.
    int named = 0;
    for (QDate d(2024, 1, 1); d.year() == 2024; d = d.addDays(1)) {
        if (auto n = CzechCalendar::nameDay(cal.startOfDay(d), cal)) {
            EXPECT_FALSE(n->isEmpty());
            EXPECT_FALSE(n->startsWith(' ') || n->endsWith(' ') || n->endsWith(','));
            ++named;
        }
    }
    EXPECT_EQ(named, 366 - 7);
    EXPECT_FALSE(CzechCalendar::nameDay(QDateTime(), cal).has_value());

    // The day is read in the given calendar.
    const QDateTime lateEvening(QDate(2026, 3, 18), QTime(23, 30), QTimeZone::utc());
    EXPECT_EQ(str(*CzechCalendar::nameDay(lateEvening, cal)), "Josef");
}

TEST(CzechCalendarWorkdays, Counting)
{
    const Calendar cal = prague();
    auto count = [&](QDateTime until, QDateTime from) { return CzechCalendar::workdays(until, from, cal); };
    // Friday 6 March 2026 afternoon to Monday 9 March.
    EXPECT_EQ(count(at(cal, 2026, 3, 9, 8), at(cal, 2026, 3, 6, 16)), 1);
    EXPECT_EQ(count(at(cal, 2026, 3, 6, 23), at(cal, 2026, 3, 6, 1)), 0);
    EXPECT_EQ(count(at(cal, 2026, 3, 2), at(cal, 2026, 3, 6)), 0);
    // Christmas: 24-26 December are holidays, 27 December is a Sunday.
    EXPECT_EQ(count(at(cal, 2026, 12, 28), at(cal, 2026, 12, 23)), 1);
    // Across New Year: 31 December counts, 1 January 2027 (Friday) and the weekend do not.
    EXPECT_EQ(count(at(cal, 2027, 1, 4), at(cal, 2026, 12, 30)), 2);
    // Easter 2026: Good Friday 3 April and Easter Monday 6 April.
    EXPECT_EQ(count(at(cal, 2026, 4, 7), at(cal, 2026, 4, 2)), 1);
    // 2026 has 261 weekdays, 11 of its holidays fall on one of them.
    EXPECT_EQ(count(at(cal, 2026, 12, 31), at(cal, 2025, 12, 31)), 250);
    // Across the spring daylight-saving change (23-hour day).
    EXPECT_EQ(count(at(cal, 2026, 3, 30), at(cal, 2026, 3, 27)), 1);
}

// Good Friday is a holiday from 2016 on; Easter Monday in every year.
TEST(CzechCalendarWorkdays, GoodFridayFrom2016)
{
    const Calendar cal = prague();
    // Easter 2015 was 5 April, Easter 2016 27 March: Thursday before to Tuesday after.
    EXPECT_EQ(CzechCalendar::workdays(at(cal, 2015, 4, 7), at(cal, 2015, 4, 2), cal), 2);
    EXPECT_EQ(CzechCalendar::workdays(at(cal, 2016, 3, 29), at(cal, 2016, 3, 24), cal), 1);
    EXPECT_EQ(CzechCalendar::adding(1, at(cal, 2015, 4, 2, 15), cal), at(cal, 2015, 4, 3));
    EXPECT_EQ(CzechCalendar::adding(1, at(cal, 2016, 3, 24, 15), cal), at(cal, 2016, 3, 29));
    EXPECT_FALSE(CzechCalendar::holiday(at(cal, 2015, 4, 3, 12), cal).has_value());
    EXPECT_EQ(str(CzechCalendar::holiday(at(cal, 2016, 3, 25, 12), cal)->en), "Good Friday");
    EXPECT_EQ(str(CzechCalendar::nextHoliday(at(cal, 2015, 1, 2), cal)->en), "Easter Monday");
}

TEST(CzechCalendarWorkdays, CountStopsAt401)
{
    const Calendar cal = prague();
    const QDateTime from = at(cal, 2026, 1, 5, 9);
    EXPECT_EQ(CzechCalendar::workdays(at(cal, 2036, 1, 1), from, cal), 401);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(CzechCalendar::workdays(at(cal, 9999, 12, 31), at(cal, 1, 1, 1), cal), 401);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
    // Exactly at the edge: the day of the 401st working day gives 401, the day before 400.
    const QDateTime day401 = CzechCalendar::adding(401, from, cal);
    EXPECT_EQ(CzechCalendar::workdays(day401, from, cal), 401);
    EXPECT_EQ(CzechCalendar::workdays(cal.addingDays(-1, day401), from, cal), 400);
    EXPECT_EQ(CzechCalendar::workdays(QDateTime(), from, cal), 0);
}

TEST(CzechCalendarWorkdays, Adding)
{
    const Calendar cal = prague();
    auto add = [&](int n, QDateTime to) { return CzechCalendar::adding(n, to, cal); };
    EXPECT_EQ(add(1, at(cal, 2026, 3, 6, 15, 30)), at(cal, 2026, 3, 9));
    EXPECT_EQ(add(0, at(cal, 2026, 3, 7, 15, 30)), at(cal, 2026, 3, 7));
    EXPECT_EQ(add(-5, at(cal, 2026, 3, 7, 15, 30)), at(cal, 2026, 3, 7));
    EXPECT_EQ(add(1, at(cal, 2026, 12, 23, 9)), at(cal, 2026, 12, 28));
    EXPECT_EQ(add(2, at(cal, 2026, 12, 30, 9)), at(cal, 2027, 1, 4));
    EXPECT_EQ(add(1, at(cal, 2026, 4, 2, 9)), at(cal, 2026, 4, 7));
    // Start of day after the spring change is at +02:00.
    const QDateTime monday = add(1, at(cal, 2026, 3, 27, 18));
    EXPECT_EQ(monday, QDateTime(QDate(2026, 3, 29), QTime(22, 0), QTimeZone::utc()));

    // Adding and counting agree.
    for (int n = 1; n <= 400; n += 13) {
        const QDateTime from = at(cal, 2026, 1 + n % 12, 1 + n % 28, n % 24);
        const QDateTime to = add(n, from);
        ASSERT_EQ(CzechCalendar::workdays(to, from, cal), n) << n;
        ASSERT_EQ(CzechCalendar::workdays(cal.addingDays(-1, to), from, cal), n - 1) << n;
        ASSERT_NE(cal.weekday(to), 1);
        ASSERT_NE(cal.weekday(to), 7);
        ASSERT_FALSE(CzechCalendar::holiday(to, cal).has_value());
    }
}

TEST(CzechCalendarWorkdays, AddingRefusesCountsAboveTheCap)
{
    const Calendar cal = prague();
    const QDateTime from = at(cal, 2026, 6, 1, 9);
    const auto t0 = std::chrono::steady_clock::now();
    const QDateTime far = CzechCalendar::adding(CzechCalendar::maxAddedWorkdays, from, cal);
    ASSERT_TRUE(far.isValid());
    EXPECT_GT(cal.year(far), 2060);
    EXPECT_LT(cal.year(far), 2070);
    EXPECT_FALSE(CzechCalendar::adding(CzechCalendar::maxAddedWorkdays + 1, from, cal).isValid());
    EXPECT_FALSE(CzechCalendar::adding(std::numeric_limits<int>::max(), from, cal).isValid());
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
    // Past the last supported year there is no day to return.
    EXPECT_FALSE(CzechCalendar::adding(5000, at(cal, 9990, 1, 1), cal).isValid());
    EXPECT_FALSE(CzechCalendar::adding(1, QDateTime(), cal).isValid());
}

TEST(CzechCalendarWorkdays, TestCzechLineCountsToTheFixedDay)
{
    const Calendar cal = prague();
    EXPECT_EQ(lomex::testCzechTarget(cal), at(cal, 2026, 12, 31));
    // 24-27 December are off; 28-31 December are working days.
    EXPECT_EQ(str(lomex::testCzechLine(at(cal, 2026, 12, 23, 10), cal)), "4");
    EXPECT_EQ(str(lomex::testCzechLine(at(cal, 2026, 12, 31, 10), cal)), "0");
    EXPECT_EQ(str(lomex::testCzechLine(at(cal, 2027, 6, 1), cal)), "0");
}
