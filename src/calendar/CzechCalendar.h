#pragma once
#include "calendar/Calendar.h"

#include <QDateTime>
#include <QString>
#include <optional>
#include <vector>

namespace lomex {

// Czech name days, public holidays, Easter and working days. Stateless: every function does
// its date arithmetic in the calendar it is given.
class CzechCalendar {
public:
    CzechCalendar() = delete;

    struct Holiday {
        QDateTime date; // start of the holiday's day
        QString cs;
        QString en;
    };

    // workdays() never counts past this many working days.
    static constexpr int maxCountedWorkdays = 401;
    // adding() refuses more working days than this (about 38 years), so a count typed by the
    // user can neither run a loop for minutes nor overflow a date.
    static constexpr int maxAddedWorkdays = 10000;

    // The names celebrated on the date's day ("Kašpar, Melichar, Baltazar"), or nullopt when
    // the day has none.
    static std::optional<QString> nameDay(const QDateTime& date, const Calendar& calendar);

    // The year's public holidays in ascending date: 13, or 12 before 2016, when Good Friday
    // became one (fewer only when a date cannot be formed).
    static std::vector<Holiday> holidays(int year, const Calendar& calendar);
    static std::optional<QDateTime> easterSunday(int year, const Calendar& calendar);
    static std::optional<Holiday> holiday(const QDateTime& on, const Calendar& calendar);
    // The first holiday on a day after the date's day (never the date's own day).
    static std::optional<Holiday> nextHoliday(const QDateTime& after, const Calendar& calendar);

    // Working days after from's day up to and including until's day; 0 when until's day is not
    // later; at most maxCountedWorkdays.
    static int workdays(const QDateTime& until, const QDateTime& from, const Calendar& calendar);
    // The start of the day that lies the given number of working days after the date's day; the
    // start of the date's own day for a count below 1. An invalid QDateTime when the count is
    // above maxAddedWorkdays or the result leaves the calendar's range.
    static QDateTime adding(int workdays, const QDateTime& to, const Calendar& calendar);
};

} // namespace lomex
