#pragma once
#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QTimeZone>
#include <memory>
#include <optional>

namespace lomex {

// Gregorian calendar arithmetic in one time zone (ICU underneath). Always the proleptic
// Gregorian calendar, whatever the user's locale prefers. A cheap value type: copies share the
// immutable ICU prototype, every call works on its own clone, so one Calendar may be used from
// any number of threads.
//
// Dates are QDateTime instants; results carry the calendar's time zone. An invalid QDateTime
// argument gives nullopt / an invalid QDateTime / 0 rather than a guess.
//
// Wall times that a daylight-saving change skips resolve to the next valid time (02:30 on the
// spring-forward day in Prague is 03:00); wall times that occur twice resolve to the first one.
class Calendar {
public:
    enum class Unit { Second, Minute, Hour, Day, Week, Month, Year };

    struct Components {
        int year = 0;
        int month = 0;   // 1-12
        int day = 0;     // 1-31
        int hour = 0;    // 0-23
        int minute = 0;
        int second = 0;
        int weekday = 0; // 1 = Sunday ... 7 = Saturday
    };

    struct IsoWeek {
        int year = 0; // the ISO week-numbering year (differs from the calendar year near New Year)
        int week = 0; // 1-53
        bool operator==(const IsoWeek&) const = default;
    };

    // Years outside this range are refused by the forming functions.
    static constexpr int minYear = 1;
    static constexpr int maxYear = 9999;

    // The user's calendar: the system time zone (TZ honoured).
    static Calendar current();
    // A calendar in the given IANA zone ("Europe/Prague"); nullopt when ICU does not know it.
    static std::optional<Calendar> withTimeZone(const QByteArray& ianaId);

    Calendar(); // same as current()

    QTimeZone timeZone() const;
    QByteArray timeZoneId() const;

    // --- reading ---
    Components components(const QDateTime& date) const;
    int year(const QDateTime& date) const { return components(date).year; }
    int month(const QDateTime& date) const { return components(date).month; }
    int day(const QDateTime& date) const { return components(date).day; }
    int hour(const QDateTime& date) const { return components(date).hour; }
    int minute(const QDateTime& date) const { return components(date).minute; }
    int second(const QDateTime& date) const { return components(date).second; }
    int weekday(const QDateTime& date) const { return components(date).weekday; }
    // The calendar day of the instant in this zone (invalid QDate for an invalid date).
    QDate localDate(const QDateTime& date) const;

    IsoWeek isoWeek(const QDateTime& date) const;
    bool isSameDay(const QDateTime& a, const QDateTime& b) const;
    bool isSameIsoWeek(const QDateTime& a, const QDateTime& b) const;
    // Calendar days from a's day to b's day (negative when b's day is earlier).
    qint64 daysBetween(const QDateTime& a, const QDateTime& b) const;

    static bool isValidDate(int year, int month, int day);
    static int daysInMonth(int year, int month); // 0 for an impossible month or year

    // --- forming ---
    // The instant of the given wall time. nullopt when the day does not exist in its month
    // (31 February), any field is out of range, or the year is outside minYear..maxYear.
    std::optional<QDateTime> date(int year, int month, int day,
                                  int hour = 0, int minute = 0, int second = 0) const;
    // The first moment of the date's day (midnight, or the first valid moment when a
    // daylight-saving change skips midnight).
    QDateTime startOfDay(const QDateTime& date) const;
    QDateTime startOfDay(const QDate& day) const;
    // The given wall time on the date's day; nullopt when out of range.
    std::optional<QDateTime> settingTime(const QDateTime& day, int hour, int minute, int second = 0) const;

    // --- arithmetic ---
    // Day, week, month and year steps keep the wall time (a month step clamps the day to the
    // month's end); second, minute and hour steps add elapsed time. Invalid QDateTime when the
    // result leaves the supported range.
    QDateTime adding(Unit unit, qint64 value, const QDateTime& date) const;
    QDateTime addingDays(qint64 days, const QDateTime& date) const { return adding(Unit::Day, days, date); }
    QDateTime addingMonths(qint64 months, const QDateTime& date) const { return adding(Unit::Month, months, date); }
    QDateTime addingHours(qint64 hours, const QDateTime& date) const { return adding(Unit::Hour, hours, date); }
    QDateTime addingMinutes(qint64 minutes, const QDateTime& date) const { return adding(Unit::Minute, minutes, date); }

    struct Impl;

private:
    explicit Calendar(std::shared_ptr<const Impl> impl);
    std::shared_ptr<const Impl> d_;
};

} // namespace lomex
