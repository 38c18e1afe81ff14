#include "platform/IcsRecurrence.h"
#include "platform/IcsGuards.h"

#include <QSet>
#include <QTimeZone>
#include <algorithm>
#include <cstdlib>
#include <libical/ical.h>

namespace lomex::ics {

namespace {

// The same kind of time as ref (zone included) at another wall time.
Time atWall(const Time& ref, qint64 wall) {
    Time t = ref;
    splitWall(wall, t.date, t.time);
    if (ref.kind == Time::Kind::date) t.time = QTime();
    if (ref.kind == Time::Kind::utc) t.utcSeconds = wall;
    if (ref.kind == Time::Kind::zoned) t.utcSeconds = wallToUtc(*ref.zone, wall);
    return t;
}

qint64 wallOf(const Time& t) { return wallSeconds(t.date, t.isDate() ? QTime(0, 0) : t.time); }

// The wall time of an instant in the frame of ref (its zone, UTC, or local).
qint64 wallInFrame(const Time& ref, qint64 utc) {
    switch (ref.kind) {
    case Time::Kind::utc: return utc;
    case Time::Kind::zoned: return utc + ref.zone->offsetAt(utc);
    default: return utc + localZone().offsetAt(utc);
    }
}

icaltimetype icalWall(qint64 wall, bool isDate) {
    QDate d;
    QTime t;
    splitWall(wall, d, t);
    icaltimetype it = icaltime_null_time();
    it.year = d.year();
    it.month = d.month();
    it.day = d.day();
    it.is_date = isDate ? 1 : 0;
    if (!isDate) {
        it.hour = t.hour();
        it.minute = t.minute();
        it.second = t.second();
    }
    it.zone = nullptr;
    return it;
}

// The rule with its UNTIL brought into the start's frame: libical compares UNTIL with the
// start's wall times, so a UTC UNTIL (the usual form) must become a wall time first.
std::optional<icalrecurrencetype> ruleFor(const QByteArray& text, const Time& start) {
    icalrecurrencetype r = icalrecurrencetype_from_string(text.constData());
    if (r.rscale) {
        std::free(r.rscale);
        r.rscale = nullptr;
    }
    if (r.freq == ICAL_NO_RECURRENCE || !followable(r) || !someDayFits(r)) return std::nullopt;
    if (!icaltime_is_null_time(r.until)) {
        icaltimetype u = r.until;
        // libical takes any digits ("20235161"); an end that is no day leaves no usable rule.
        if (!validTime(u)) return std::nullopt;
        qint64 wall;
        if (u.is_date) {
            wall = wallSeconds(QDate(u.year, u.month, u.day), QTime(0, 0)) + (start.isDate() ? 0 : kDay - 1);
        } else {
            const qint64 raw = wallSeconds(QDate(u.year, u.month, u.day), QTime(u.hour, u.minute, std::min(u.second, 59)));
            wall = icaltime_is_utc(u) ? wallInFrame(start, raw) : raw;
        }
        r.until = icalWall(wall, start.isDate());
    }
    return r;
}

// Instances named by EXDATE or RECURRENCE-ID, as sets: a series may carry tens of thousands of
// them, and every instance of a query is checked. A day on either side matches by date, in the
// local frame for an all-day instance; two date-times match by instant.
class InstanceSet {
public:
    void add(const Time& x) {
        if (x.isDate()) {
            dates_.insert(x.date.toJulianDay());
            return;
        }
        seconds_.insert(x.seconds());
        localDays_.insert(x.kind == Time::Kind::floating
                              ? x.date.toJulianDay()
                              : floorDiv(x.utcSeconds + localZone().offsetAt(x.utcSeconds), kDay) + kUnixEpochJulianDay);
    }
    bool contains(const Time& instance, qint64 instanceSeconds) const {
        const qint64 day = instance.date.toJulianDay();
        if (instance.isDate()) return dates_.contains(day) || localDays_.contains(day);
        return seconds_.contains(instanceSeconds) || dates_.contains(day);
    }
private:
    QSet<qint64> seconds_, dates_, localDays_;
};

struct Span {
    bool allDay = false;
    qint64 days = 1;           // all-day length
    qint64 exactSeconds = 0;   // from DTEND, or the exact part of DURATION
    qint64 nominalDays = 0;    // the day part of DURATION, in wall time
};

Span spanOf(const EventPart& p) {
    Span s;
    s.allDay = p.start.isDate();
    if (s.allDay) {
        if (p.end && p.end->isDate()) s.days = std::max<qint64>(1, p.start.date.daysTo(p.end->date));
        else if (p.duration) s.days = std::max<qint64>(1, p.duration->days + (p.duration->seconds > 0 ? 1 : 0));
        return s;
    }
    if (p.end) s.exactSeconds = std::max<qint64>(0, p.end->seconds() - p.start.seconds());
    else if (p.duration) {
        s.nominalDays = p.duration->days;
        s.exactSeconds = p.duration->seconds;
    }
    return s;
}

qint64 endSeconds(const Time& start, qint64 startSeconds, const Span& span) {
    if (span.allDay) return wallToUtc(localZone(), wallSeconds(start.date.addDays(span.days), QTime(0, 0)));
    if (span.nominalDays == 0) return startSeconds + span.exactSeconds;
    return atWall(start, wallOf(start) + span.nominalDays * kDay).seconds() + span.exactSeconds;
}

CalendarEvent makeEvent(const EventPart& p, const QString& calendarId, const Span& span, qint64 s, qint64 e) {
    CalendarEvent ev;
    ev.uid = p.uid;
    ev.calendarId = calendarId;
    ev.title = p.title;
    ev.start = utcInstant(s);
    ev.end = utcInstant(e);
    ev.allDay = span.allDay;
    ev.url = p.url;
    ev.location = p.location;
    ev.notes = p.notes;
    return ev;
}

// Wall seconds between instances of a rule without BY parts (seconds to weeks); 0 for others.
qint64 fixedSpacing(const icalrecurrencetype& r, bool dates) {
    for (const short* by : {r.by_second, r.by_minute, r.by_hour, r.by_day, r.by_month_day, r.by_year_day, r.by_week_no,
                            r.by_month, r.by_set_pos})
        if (hasPart(by)) return 0;
    const qint64 interval = std::max<qint64>(1, r.interval);
    switch (r.freq) {
    case ICAL_SECONDLY_RECURRENCE: return dates ? 0 : interval;
    case ICAL_MINUTELY_RECURRENCE: return dates ? 0 : 60 * interval;
    case ICAL_HOURLY_RECURRENCE: return dates ? 0 : 3600 * interval;
    case ICAL_DAILY_RECURRENCE: return kDay * interval;
    case ICAL_WEEKLY_RECURRENCE: return 7 * kDay * interval;
    default: return 0;
    }
}

// At most how many instances a daily or weekly rule has from its start to wall time to, counted
// without its COUNT: periods times what the BY parts may give in one period (the other BY parts
// only leave instances out). -1 for other rules.
qint64 instancesAtMost(const icalrecurrencetype& r, qint64 startWall, qint64 to) {
    if (r.freq != ICAL_DAILY_RECURRENCE && r.freq != ICAL_WEEKLY_RECURRENCE) return -1;
    auto size = [](const short* by, size_t n) {
        size_t k = 0;
        while (k < n && by[k] != ICAL_RECURRENCE_ARRAY_MAX) ++k;
        return qint64(std::max<size_t>(1, k));
    };
    qint64 perPeriod = size(r.by_second, std::size(r.by_second)) * size(r.by_minute, std::size(r.by_minute)) *
                       size(r.by_hour, std::size(r.by_hour));
    if (r.freq == ICAL_WEEKLY_RECURRENCE) perPeriod *= size(r.by_day, std::size(r.by_day));
    const qint64 period = (r.freq == ICAL_WEEKLY_RECURRENCE ? 7 : 1) * kDay * std::max<qint64>(1, r.interval);
    return (std::max<qint64>(0, to - startWall) / period + 2) * perPeriod;
}

void expand(const icalrecurrencetype& counted, const Time& start, qint64 from, qint64 to, Series::Expansion& ex,
            StepBudget* budget) {
    // A counted rule whose count cannot run out before the stretch ends gives there what the same
    // rule without COUNT gives, and that one skips ahead instead of stepping from its start: a
    // stand-up counted from years ago costs the days asked about, not its years.
    icalrecurrencetype rule = counted;
    if (rule.count > 0 && from > wallOf(start)) {
        const qint64 most = instancesAtMost(rule, wallOf(start), to);
        if (most >= 0 && most < rule.count) rule.count = 0;
    }
    ex = Series::Expansion{from, to, {}, ex.outOfReachFrom, ex.countEndsAt};
    const qint64 startWall = wallOf(start);
    // Without BY parts the instances are evenly spaced in wall time: they are counted out
    // directly instead of stepped, with the same bounds as stepping (a counted rule never
    // goes past its maxRuleSteps-th instance, and no stretch holds more than it keeps).
    if (const qint64 every = fixedSpacing(rule, start.isDate()); every > 0) {
        qint64 first = from > startWall ? (from - startWall + every - 1) / every : 0;
        qint64 last = to < startWall ? -1 : (to - startWall) / every;
        if (rule.count > 0) last = std::min<qint64>(last, std::min<qint64>(rule.count, maxRuleSteps) - 1);
        if (!icaltime_is_null_time(rule.until)) {
            const icaltimetype& u = rule.until;
            const qint64 untilWall = wallSeconds(QDate(u.year, u.month, u.day),
                                                 u.is_date ? QTime(0, 0) : QTime(u.hour, u.minute, std::min(u.second, 59)));
            last = untilWall < startWall ? -1 : std::min(last, (untilWall - startWall) / every);
        }
        last = std::min(last, first + maxOccurrences * 4 - 1);
        for (qint64 k = first; k <= last; ++k) ex.walls.append(startWall + k * every);
        if (budget) {
            budget->left = std::max<qint64>(0, budget->left - ex.walls.size());
            budget->spent += ex.walls.size();
        }
        return;
    }
    icalrecur_iterator* it = icalrecur_iterator_new(rule, icalWall(startWall, start.isDate()));
    if (!it) return;
    // Skip far ahead for an old series (not possible with COUNT, which counts from the start).
    if (rule.count == 0 && from > startWall) icalrecur_iterator_set_start(it, icalWall(from, start.isDate()));
    const qint64 limit = budget ? std::min<qint64>(maxRuleSteps, budget->limit()) : maxRuleSteps;
    qint64 steps = 0;
    qint64 lastWall = startWall;
    bool ended = false, outOfSteps = false;
    for (;;) {
        const icaltimetype next = icalrecur_iterator_next(it);
        if (icaltime_is_null_time(next)) {
            ended = true;
            break;
        }
        if (++steps > limit) {
            outOfSteps = true;
            steps = limit;
            break;
        }
        if (ex.walls.size() >= maxOccurrences * 4) break;
        const qint64 wall = wallSeconds(QDate(next.year, next.month, next.day),
                                        next.is_date ? QTime(0, 0) : QTime(next.hour, next.minute, std::min(next.second, 59)));
        lastWall = wall;
        if (wall > to) break;
        if (wall >= from) ex.walls.append(wall);
    }
    icalrecur_iterator_free(it);
    // A counted rule that ran out is known to the end: later stretches cost nothing.
    if (ended && rule.count > 0) ex.countEndsAt = lastWall;
    if (outOfSteps && rule.count > 0 && lastWall < from) ex.outOfReachFrom = from;
    if (budget) {
        budget->left -= steps;
        budget->spent += steps;
        // Instances of the stretch may be missing: the caller skips the series rather than show part of it.
        if (outOfSteps && lastWall < to) budget->cut = true;
    }
}

} // namespace

QList<CalendarEvent> occurrences(const Series& series, const QString& calendarId, const QDateTime& from,
                                 const QDateTime& to, StepBudget* budget) {
    QList<CalendarEvent> out;
    if (series.skipped) return out;
    const qint64 fromS = from.toSecsSinceEpoch();
    const qint64 toS = to.toSecsSinceEpoch();
    auto overlaps = [&](qint64 s, qint64 e) { return s < toS && (e > fromS || (e == s && s >= fromS)); };

    // Wall times lie within a day of their instants; anything two days off cannot overlap.
    const QDate fromDay = QDate::fromJulianDay(floorDiv(fromS, kDay) + kUnixEpochJulianDay).addDays(-2);
    const QDate toDay = QDate::fromJulianDay(floorDiv(toS, kDay) + kUnixEpochJulianDay).addDays(2);
    auto cannotOverlap = [&](const EventPart& p) {
        if (p.start.date > toDay) return true;
        QDate last = p.end ? p.end->date : p.start.date;
        if (!p.end && p.duration) last = last.addDays(p.duration->days + p.duration->seconds / kDay + 1);
        return last < fromDay;
    };

    // Moved or changed instances stand on their own times, wherever their original instance was.
    for (const EventPart& o : series.overrides) {
        if (cannotOverlap(o)) continue;
        const Span span = spanOf(o);
        const qint64 s = o.start.seconds();
        const qint64 e = endSeconds(o.start, s, span);
        if (overlaps(s, e)) out.append(makeEvent(o, calendarId, span, s, e));
    }
    if (!series.master) return out;
    const EventPart& m = *series.master;
    const Span span = spanOf(m);
    std::optional<icalrecurrencetype> rule;
    if (series.rule) rule = ruleFor(*series.rule, m.start);

    std::optional<InstanceSet> skipped; // built at the first instance that may overlap
    // RRULE, RDATE and DTSTART may name one instant in different forms (a zone, UTC, a period):
    // only one recurrence is considered, the first met. Only RDATEs can repeat an instance.
    QSet<qint64> considered;
    auto consider = [&](const Time& start, std::optional<qint64> length = std::nullopt) {
        const qint64 s = start.seconds();
        if (!series.rdates.isEmpty()) {
            if (considered.contains(s)) return;
            considered.insert(s);
        }
        if (!skipped) {
            skipped.emplace();
            for (const Time& x : series.exdates) skipped->add(x);
            for (const EventPart& o : series.overrides) skipped->add(*o.recurrenceId);
        }
        if (skipped->contains(start, s)) return;
        // An RDATE period brings its own end.
        const qint64 e = length ? s + *length : endSeconds(start, s, span);
        if (overlaps(s, e)) out.append(makeEvent(m, calendarId, span, s, e));
    };
    auto considerRdates = [&] {
        for (int i = 0; i < series.rdates.size(); ++i) consider(series.rdates[i], series.rdateLengths.value(i));
    };

    if (!rule && series.rdates.isEmpty() && cannotOverlap(m)) return out;
    if (!rule) {
        consider(m.start);
        considerRdates();
        return out;
    }

    const qint64 startWall = wallOf(m.start);
    const qint64 longest = span.allDay ? span.days * kDay : span.exactSeconds + span.nominalDays * kDay;
    const qint64 needFrom = fromS - longest - 2 * kDay;
    const qint64 needTo = toS + 2 * kDay;
    Series::Expansion& ex = series.expansion;
    if (needFrom < ex.from || needTo > ex.to) {
        if ((ex.outOfReachFrom && needFrom >= *ex.outOfReachFrom) || (ex.countEndsAt && needFrom > *ex.countEndsAt))
            ex = Series::Expansion{needFrom, needTo + expansionAheadSeconds, {}, ex.outOfReachFrom, ex.countEndsAt};
        else
            expand(*rule, m.start, needFrom, needTo + expansionAheadSeconds, ex, budget);
    }
    const int before = int(out.size());
    if (startWall >= needFrom && startWall <= needTo) consider(m.start);
    else if (!series.rdates.isEmpty()) considered.insert(m.start.seconds()); // an RDATE of DTSTART stays out too
    for (qint64 wall : ex.walls) {
        if (out.size() - before >= maxOccurrences) break;
        if (wall < needFrom || wall == startWall) continue;
        if (wall > needTo) break;
        consider(atWall(m.start, wall));
    }
    considerRdates();
    return out;
}

std::optional<Time> nextDue(const QByteArray& ruleText, const Time& due) {
    std::optional<icalrecurrencetype> rule = ruleFor(ruleText, due);
    if (!rule) return std::nullopt;
    const qint64 dueWall = wallOf(due);
    icalrecur_iterator* it = icalrecur_iterator_new(*rule, icalWall(dueWall, due.isDate()));
    if (!it) return std::nullopt;
    std::optional<Time> out;
    int steps = 0;
    for (icaltimetype next = icalrecur_iterator_next(it); !icaltime_is_null_time(next) && ++steps <= maxRuleSteps;
         next = icalrecur_iterator_next(it)) {
        const qint64 wall = wallSeconds(QDate(next.year, next.month, next.day),
                                        next.is_date ? QTime(0, 0) : QTime(next.hour, next.minute, std::min(next.second, 59)));
        if (wall > dueWall) {
            out = atWall(due, wall);
            break;
        }
    }
    icalrecur_iterator_free(it);
    return out;
}

} // namespace lomex::ics
