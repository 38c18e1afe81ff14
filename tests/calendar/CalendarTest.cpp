#include "calendar/Calendar.h"

#include <gtest/gtest.h>

#include <atomic>
#include <limits>
#include <thread>
#include <vector>

using lomex::Calendar;

namespace {

Calendar prague()
{
    auto cal = Calendar::withTimeZone("Europe/Prague");
    EXPECT_TRUE(cal.has_value());
    return *cal;
}

QDateTime utc(int y, int mo, int d, int h, int mi, int s = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s), QTimeZone::utc());
}

} // namespace

TEST(CalendarTime, ComponentsAndWeekdayInZone)
{
    const Calendar cal = prague();
    // 2026-03-01 23:30 UTC is already Monday 2 March 00:30 in Prague.
    const auto c = cal.components(utc(2026, 3, 1, 23, 30, 15));
    EXPECT_EQ(c.year, 2026);
    EXPECT_EQ(c.month, 3);
    EXPECT_EQ(c.day, 2);
    EXPECT_EQ(c.hour, 0);
    EXPECT_EQ(c.minute, 30);
    EXPECT_EQ(c.second, 15);
    EXPECT_EQ(c.weekday, 2); // Monday
    EXPECT_EQ(cal.weekday(utc(2026, 3, 1, 12, 0)), 1); // Sunday
    EXPECT_EQ(cal.weekday(utc(2026, 3, 7, 12, 0)), 7); // Saturday

    EXPECT_EQ(cal.startOfDay(utc(2026, 3, 1, 23, 30)), utc(2026, 3, 1, 23, 0));
    EXPECT_TRUE(cal.isSameDay(utc(2026, 3, 1, 23, 30), utc(2026, 3, 2, 22, 59)));
    EXPECT_FALSE(cal.isSameDay(utc(2026, 3, 1, 22, 59), utc(2026, 3, 1, 23, 0)));
    EXPECT_EQ(cal.daysBetween(utc(2026, 3, 1, 22, 0), utc(2026, 3, 1, 23, 0)), 1);
}

TEST(CalendarTime, FormingRefusesImpossibleDates)
{
    const Calendar cal = prague();
    EXPECT_FALSE(cal.date(2026, 2, 29).has_value());
    EXPECT_TRUE(cal.date(2024, 2, 29).has_value());
    EXPECT_FALSE(cal.date(2026, 4, 31).has_value());
    EXPECT_FALSE(cal.date(2026, 13, 1).has_value());
    EXPECT_FALSE(cal.date(2026, 0, 1).has_value());
    EXPECT_FALSE(cal.date(2026, 1, 1, 24, 0).has_value());
    EXPECT_FALSE(cal.date(2026, 1, 1, 10, 60).has_value());
    EXPECT_FALSE(cal.date(0, 1, 1).has_value());
    EXPECT_FALSE(cal.date(10000, 1, 1).has_value());
    EXPECT_EQ(*cal.date(2026, 7, 1, 9, 15), utc(2026, 7, 1, 7, 15));
    EXPECT_EQ(Calendar::daysInMonth(2100, 2), 28);
    EXPECT_EQ(Calendar::daysInMonth(2000, 2), 29);
    EXPECT_EQ(Calendar::daysInMonth(2026, 13), 0);
}

TEST(CalendarTime, SpringForwardGapGivesNextValidTime)
{
    const Calendar cal = prague();
    // 29 March 2026: clocks jump from 02:00 CET to 03:00 CEST (01:00 UTC).
    const QDateTime day = utc(2026, 3, 29, 10, 0);
    EXPECT_EQ(*cal.settingTime(day, 2, 30), utc(2026, 3, 29, 1, 0));
    EXPECT_EQ(*cal.settingTime(day, 2, 0), utc(2026, 3, 29, 1, 0));
    EXPECT_EQ(*cal.settingTime(day, 1, 59), utc(2026, 3, 29, 0, 59));
    EXPECT_EQ(*cal.settingTime(day, 3, 0), utc(2026, 3, 29, 1, 0));
    EXPECT_EQ(*cal.settingTime(day, 3, 30), utc(2026, 3, 29, 1, 30));
    EXPECT_FALSE(cal.settingTime(day, 24, 0).has_value());

    // The day is 23 hours long: a day step keeps the wall time, an hour step is elapsed time.
    const QDateTime before = *cal.date(2026, 3, 28, 9, 0);
    EXPECT_EQ(cal.addingDays(1, before), *cal.date(2026, 3, 29, 9, 0));
    EXPECT_EQ(before.secsTo(cal.addingDays(1, before)), 23 * 3600);
    EXPECT_EQ(cal.addingHours(24, before), *cal.date(2026, 3, 29, 10, 0));
    // A day step landing in the gap moves forward out of it.
    const QDateTime inGapYesterday = *cal.date(2026, 3, 28, 2, 30);
    EXPECT_EQ(cal.addingDays(1, inGapYesterday), utc(2026, 3, 29, 1, 0));
    EXPECT_EQ(cal.startOfDay(day), utc(2026, 3, 28, 23, 0));
}

TEST(CalendarTime, FallBackRepeatedHourGivesFirstOccurrence)
{
    const Calendar cal = prague();
    // 25 October 2026: 03:00 CEST goes back to 02:00 CET, so 02:00-02:59 happens twice.
    const QDateTime day = utc(2026, 10, 25, 12, 0);
    EXPECT_EQ(*cal.settingTime(day, 2, 30), utc(2026, 10, 25, 0, 30));
    EXPECT_EQ(*cal.settingTime(day, 3, 0), utc(2026, 10, 25, 2, 0));
    EXPECT_EQ(cal.hour(utc(2026, 10, 25, 1, 30)), 2); // the second 02:30 reads as 02:30 too
    const QDateTime start = cal.startOfDay(day);
    EXPECT_EQ(start, utc(2026, 10, 24, 22, 0));
    EXPECT_EQ(start.secsTo(cal.addingDays(1, start)), 25 * 3600);
    EXPECT_EQ(cal.addingMinutes(90, *cal.date(2026, 10, 25, 1, 30)), utc(2026, 10, 25, 0, 0).addSecs(3600));
}

TEST(CalendarTime, MonthStepsClampToMonthEnd)
{
    const Calendar cal = prague();
    EXPECT_EQ(cal.addingMonths(1, *cal.date(2026, 1, 31, 8, 0)), *cal.date(2026, 2, 28, 8, 0));
    EXPECT_EQ(cal.addingMonths(1, *cal.date(2024, 1, 31, 8, 0)), *cal.date(2024, 2, 29, 8, 0));
    EXPECT_EQ(cal.addingMonths(-13, *cal.date(2026, 3, 31)), *cal.date(2025, 2, 28));
    EXPECT_EQ(cal.adding(Calendar::Unit::Week, 2, *cal.date(2026, 12, 28)), *cal.date(2027, 1, 11));
    EXPECT_EQ(cal.adding(Calendar::Unit::Year, 1, *cal.date(2024, 2, 29)), *cal.date(2025, 2, 28));
}

TEST(CalendarTime, HugeStepsGiveInvalidInsteadOfOverflow)
{
    const Calendar cal = prague();
    const QDateTime now = *cal.date(2026, 6, 1, 12, 0);
    EXPECT_FALSE(cal.addingDays(std::numeric_limits<qint64>::max(), now).isValid());
    EXPECT_FALSE(cal.addingMinutes(std::numeric_limits<qint64>::min(), now).isValid());
    EXPECT_FALSE(cal.addingMonths(2'000'000'000, now).isValid());
    EXPECT_FALSE(cal.addingDays(3'000'000, now).isValid()); // past year 9999
    EXPECT_TRUE(cal.addingDays(365 * 7000, now).isValid());
    EXPECT_FALSE(cal.startOfDay(QDateTime()).isValid());
    EXPECT_EQ(cal.components(QDateTime()).month, 0);
    EXPECT_FALSE(cal.isSameDay(QDateTime(), QDateTime()));
}

TEST(CalendarTime, IsoWeeksAtYearEdges)
{
    const Calendar cal = prague();
    auto week = [&](int y, int m, int d) { return cal.isoWeek(*cal.date(y, m, d, 12, 0)); };
    // 1 January 2021 (Friday) belongs to week 53 of 2020.
    EXPECT_EQ(week(2021, 1, 1), (Calendar::IsoWeek{2020, 53}));
    EXPECT_EQ(week(2021, 1, 4), (Calendar::IsoWeek{2021, 1}));
    // 29 December 2025 (Monday) starts week 1 of 2026.
    EXPECT_EQ(week(2025, 12, 29), (Calendar::IsoWeek{2026, 1}));
    EXPECT_EQ(week(2025, 12, 28), (Calendar::IsoWeek{2025, 52}));
    EXPECT_EQ(week(2026, 12, 31), (Calendar::IsoWeek{2026, 53}));
    EXPECT_EQ(week(2027, 1, 3), (Calendar::IsoWeek{2026, 53}));

    EXPECT_TRUE(cal.isSameIsoWeek(*cal.date(2025, 12, 31), *cal.date(2026, 1, 4, 23, 59)));
    EXPECT_FALSE(cal.isSameIsoWeek(*cal.date(2026, 1, 4, 23, 59), *cal.date(2026, 1, 5)));
    // Sunday and the following Monday lie in different weeks (weeks start on Monday).
    EXPECT_FALSE(cal.isSameIsoWeek(*cal.date(2026, 3, 1), *cal.date(2026, 3, 2)));

    // Agrees with QDate's ISO week over several years.
    for (QDate d(2019, 12, 20); d < QDate(2033, 1, 10); d = d.addDays(1)) {
        int qy = 0;
        const int qw = d.weekNumber(&qy);
        ASSERT_EQ(cal.isoWeek(cal.startOfDay(d)), (Calendar::IsoWeek{qy, qw})) << d.toString(Qt::ISODate).toStdString();
    }
}

TEST(CalendarTime, SystemZoneHonoursTz)
{
    const QByteArray saved = qgetenv("TZ");
    qputenv("TZ", "America/New_York");
    const Calendar cal = Calendar::current();
    EXPECT_EQ(cal.timeZoneId(), QByteArray("America/New_York"));
    EXPECT_EQ(cal.hour(utc(2026, 1, 15, 12, 0)), 7);

    // A POSIX rule instead of a zone name keeps its offsets and daylight-saving dates.
    const int year = QDate::currentDate().year();
    qputenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
    const Calendar posix = Calendar::current();
    EXPECT_EQ(posix.hour(utc(year, 1, 15, 12, 0)), 13);
    EXPECT_EQ(posix.hour(utc(year, 7, 1, 12, 0)), 14);
    const QDate lastMarchSunday = QDate(year, 3, 31).addDays(-(QDate(year, 3, 31).dayOfWeek() % 7));
    const QDateTime gapDay = QDateTime(lastMarchSunday, QTime(12, 0), QTimeZone::utc());
    EXPECT_EQ(*posix.settingTime(gapDay, 2, 30), QDateTime(lastMarchSunday, QTime(1, 0), QTimeZone::utc()));
    EXPECT_EQ(posix.hour(QDateTime(lastMarchSunday, QTime(0, 59), QTimeZone::utc())), 1);
    // A TZ value nobody knows is read as UTC (as the C library does); dates stay valid.
    qputenv("TZ", "Nonsense/Zone");
    const Calendar unknown = Calendar::current();
    if (saved.isNull())
        qunsetenv("TZ");
    else
        qputenv("TZ", saved);
    const auto noon = unknown.date(2026, 12, 8, 12, 0);
    ASSERT_TRUE(noon && noon->isValid());
    EXPECT_EQ(*noon, utc(2026, 12, 8, 12, 0));
    EXPECT_TRUE(unknown.startOfDay(*noon).isValid());
    EXPECT_TRUE(unknown.addingDays(1, *noon).isValid());
    EXPECT_FALSE(Calendar::withTimeZone("Nowhere/Atlantis").has_value());
}

TEST(CalendarTime, CopiesAreUsableAcrossThreads)
{
    const Calendar cal = prague();
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([cal, &wrong, t] {
            for (int i = 0; i < 2000; ++i) {
                const QDateTime d = *cal.date(2026, 1 + (i + t) % 12, 1 + i % 28, i % 24, i % 60);
                const auto c = cal.components(d);
                if (c.month != 1 + (i + t) % 12 || c.day != 1 + i % 28)
                    ++wrong;
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(wrong.load(), 0);
}
