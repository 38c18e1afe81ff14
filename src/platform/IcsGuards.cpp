#include "platform/IcsGuards.h"

#include <QDate>
#include <algorithm>
#include <vector>

namespace lomex::ics {

bool validTime(const icaltimetype& t) {
    return !icaltime_is_null_time(t) && QDate::isValid(t.year, t.month, t.day) && t.hour >= 0 && t.hour < 24 &&
           t.minute >= 0 && t.minute < 60 && t.second >= 0 && t.second <= 60;
}

bool hasPart(const short* by) { return by[0] != ICAL_RECURRENCE_ARRAY_MAX; }

// libical steps a rule in its own unit and tests the BY parts at every step, so a rule of
// seconds, minutes or hours that BY parts make rare or impossible (30 February) keeps it
// stepping for centuries. Calendar programs write no such rules; they are not followed.
bool followable(const icalrecurrencetype& r) {
    if (r.freq != ICAL_SECONDLY_RECURRENCE && r.freq != ICAL_MINUTELY_RECURRENCE && r.freq != ICAL_HOURLY_RECURRENCE)
        return true;
    for (const short* by : {r.by_second, r.by_minute, r.by_hour, r.by_day, r.by_month_day, r.by_year_day, r.by_week_no,
                            r.by_month, r.by_set_pos})
        if (hasPart(by)) return false;
    return true;
}

// Whether any day fits the rule's day parts (month, day of month, day of year, weekday). For a
// rule that no day fits (30 February) libical steps on until the year 2582 at every expansion.
// 2000 to 2027 hold every kind of year: leap or not, starting on each weekday.
bool someDayFits(const icalrecurrencetype& r) {
    // Each list ends at ICAL_RECURRENCE_ARRAY_MAX unless it fills its array.
    auto flags = [](const auto& by, int lo, int hi, auto&& decode) {
        std::vector<bool> on(size_t(hi - lo + 1), false);
        for (size_t i = 0; i < std::size(by) && by[i] != ICAL_RECURRENCE_ARRAY_MAX; ++i) {
            const int v = decode(by[i]);
            if (v >= lo && v <= hi) on[size_t(v - lo)] = true;
        }
        return on;
    };
    auto same = [](short v) { return int(v); };
    const bool byMonth = hasPart(r.by_month), byWeekday = hasPart(r.by_day);
    const bool byMonthDay = hasPart(r.by_month_day) && r.freq != ICAL_WEEKLY_RECURRENCE;
    const bool byYearDay = hasPart(r.by_year_day) && r.freq == ICAL_YEARLY_RECURRENCE;
    if (!byMonth && !byWeekday && !byMonthDay && !byYearDay) return true;
    const auto months = flags(r.by_month, 1, 12, [](short v) { return icalrecurrencetype_month_month(v); });
    const auto weekdays = flags(r.by_day, 1, 7, [](short v) { return int(icalrecurrencetype_day_day_of_week(v)); });
    const auto monthDays = flags(r.by_month_day, -31, 31, same);
    const auto yearDays = flags(r.by_year_day, -366, 366, same);
    for (QDate d(2000, 1, 1); d.year() < 2028; d = d.addDays(1)) {
        if (byMonth && !months[size_t(d.month() - 1)]) continue;
        if (byWeekday && !weekdays[size_t(d.dayOfWeek() % 7)]) continue; // libical counts from Sunday = 1
        if (byMonthDay && !monthDays[size_t(d.day() + 31)] && !monthDays[size_t(d.day() - d.daysInMonth() - 1 + 31)])
            continue;
        if (byYearDay && !yearDays[size_t(d.dayOfYear() + 366)] &&
            !yearDays[size_t(d.dayOfYear() - d.daysInYear() - 1 + 366)])
            continue;
        return true;
    }
    return false;
}

// libical lists every change of a VTIMEZONE from its first onset to the years asked about. Real
// zones change a few times a year by yearly rules; a definition that would list more changes
// than this (a rule every second, thousands of observances since 1601) is not used.
constexpr int kMaxZoneRuleYears = 10000;

bool usableZone(icalcomponent* vtimezone) {
    int ruleYears = 0;
    for (icalcomponent* o = icalcomponent_get_first_component(vtimezone, ICAL_ANY_COMPONENT); o;
         o = icalcomponent_get_next_component(vtimezone, ICAL_ANY_COMPONENT)) {
        const icaltimetype start = icalcomponent_get_dtstart(o);
        for (icalproperty* p = icalcomponent_get_first_property(o, ICAL_RRULE_PROPERTY); p;
             p = icalcomponent_get_next_property(o, ICAL_RRULE_PROPERTY)) {
            const icalrecurrencetype r = icalproperty_get_rrule(p);
            if (r.freq != ICAL_YEARLY_RECURRENCE || icaltime_is_null_time(start) || !someDayFits(r)) return false;
            // At most a dozen changes a year: the thirteenth comes more than a year after the first.
            icalrecur_iterator* it = icalrecur_iterator_new(r, start);
            if (!it) return false;
            icaltimetype first = icalrecur_iterator_next(it), last = first;
            for (int i = 1; i < 13 && !icaltime_is_null_time(last); ++i) last = icalrecur_iterator_next(it);
            icalrecur_iterator_free(it);
            if (!icaltime_is_null_time(last) && last.year - first.year <= 1 &&
                icaltime_compare(last, icaltime_add(first, icaldurationtype_from_int(365 * 86400))) < 0)
                return false;
            const int until = icaltime_is_null_time(r.until) ? 2200 : std::min(r.until.year, 2200);
            ruleYears += std::max(0, until - std::max(start.year, 1)) + 1;
            if (ruleYears > kMaxZoneRuleYears) return false;
        }
    }
    return true;
}

} // namespace lomex::ics
