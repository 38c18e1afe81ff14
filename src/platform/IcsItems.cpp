#include "platform/IcsItems.h"

#include <QSet>
#include <QTimeZone>
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <vector>
#include <libical/ical.h>
#include <unicode/ucal.h>

namespace lomex::ics {

namespace {

constexpr qint64 kUnixEpochJulianDay = 2440588;
constexpr qint64 kDay = 86400;

qint64 floorDiv(qint64 a, qint64 b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

void splitWall(qint64 wall, QDate& date, QTime& time) {
    const qint64 days = floorDiv(wall, kDay);
    date = QDate::fromJulianDay(days + kUnixEpochJulianDay);
    time = QTime::fromMSecsSinceStartOfDay(int((wall - days * kDay) * 1000));
}

// Zones change their offset only at whole quarter hours, so offsets are remembered per quarter
// hour: an agenda asks the same few days over and over. One thread uses a zone at a time.
class CachedZone : public Zone {
public:
    int offsetAt(qint64 utc) const final {
        const qint64 quarter = floorDiv(utc, 900);
        auto it = cache_.constFind(quarter);
        if (it != cache_.constEnd()) return it.value();
        if (cache_.size() > 100000) cache_.clear();
        const int offset = lookUp(quarter * 900);
        cache_.insert(quarter, offset);
        return offset;
    }
protected:
    virtual int lookUp(qint64 utc) const = 0;
private:
    mutable QHash<qint64, int> cache_;
};

class QtZone : public CachedZone {
public:
    explicit QtZone(QTimeZone tz) : tz_(std::move(tz)) {}
protected:
    int lookUp(qint64 utc) const override {
        return tz_.offsetFromUtc(QDateTime::fromSecsSinceEpoch(utc, QTimeZone::utc()));
    }
private:
    QTimeZone tz_;
};

// The local zone remembers offsets only until forgetLocalOffsets(): TZ may change while the
// app runs, so each query starts afresh. One cache per thread.
// Qt's local time asks the C library, which looks at /etc/localtime on every call; the system
// zone object reads it once per query instead.
thread_local QHash<qint64, int> t_localOffsets;
thread_local std::optional<QTimeZone> t_localZone;

class LocalZone : public Zone {
public:
    int offsetAt(qint64 utc) const override {
        const qint64 quarter = floorDiv(utc, 900);
        auto it = t_localOffsets.constFind(quarter);
        if (it != t_localOffsets.constEnd()) return it.value();
        if (!t_localZone) t_localZone = QTimeZone::systemTimeZone();
        const QDateTime at = QDateTime::fromSecsSinceEpoch(quarter * 900, QTimeZone::utc());
        const int offset = t_localZone->isValid() ? t_localZone->offsetFromUtc(at)
                                                   : at.toLocalTime().offsetFromUtc();
        t_localOffsets.insert(quarter, offset);
        return offset;
    }
};

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

// A zone only a file's VTIMEZONE explains.
class IcalZone : public CachedZone {
public:
    explicit IcalZone(icalcomponent* vtimezone) : zone_(icaltimezone_new()) {
        if (!icaltimezone_set_component(zone_, icalcomponent_new_clone(vtimezone))) {
            icaltimezone_free(zone_, 1);
            zone_ = nullptr;
        }
    }
    ~IcalZone() override {
        if (zone_) icaltimezone_free(zone_, 1);
    }
    bool valid() const { return zone_ != nullptr; }
protected:
    int lookUp(qint64 utc) const override {
        icaltimetype t = icaltime_from_timet_with_zone(time_t(utc), 0, icaltimezone_get_utc_timezone());
        int daylight = 0;
        return icaltimezone_get_utc_offset_of_utc_time(zone_, &t, &daylight);
    }
private:
    icaltimezone* zone_;
};

QString text(const char* s) { return s ? QString::fromUtf8(s) : QString(); }

// Qt reads any unknown name as a POSIX TZ rule ("Eastern" becomes UTC), so only names the time
// zone database knows (aliases such as US/Central included) may stand for a system zone.
bool systemZoneName(const QByteArray& tzid) {
    const QString id = QString::fromUtf8(tzid);
    UChar canonical[128];
    UBool isSystem = false;
    UErrorCode err = U_ZERO_ERROR;
    ucal_getCanonicalTimeZoneID(reinterpret_cast<const UChar*>(id.utf16()), int32_t(id.size()), canonical, 128,
                                &isSystem, &err);
    return U_SUCCESS(err) && isSystem;
}

std::optional<QString> optionalText(icalcomponent* c, icalproperty_kind kind) {
    icalproperty* p = icalcomponent_get_first_property(c, kind);
    if (!p) return std::nullopt;
    const char* v = icalproperty_get_value_as_string(p);
    if (!v) return std::nullopt;
    if (kind == ICAL_URL_PROPERTY) return text(v);
    // TEXT values come back escaped from get_value_as_string; the typed getters unescape.
    icalvalue* value = icalproperty_get_value(p);
    return value && icalvalue_isa(value) == ICAL_TEXT_VALUE ? text(icalvalue_get_text(value)) : text(v);
}

// Resolves the TZID of one file: zones the system knows first (IANA, then Windows names), then
// the file's own VTIMEZONE; a name nobody explains reads as floating. A VTIMEZONE is checked
// only when a time needs it: checking steps its rules, and most name a zone the system knows.
struct FileZones {
    ZoneCache& shared;
    QHash<QByteArray, icalcomponent*> definitions; // the file's VTIMEZONEs by TZID, alive while parsing
    QHash<QByteArray, std::shared_ptr<const Zone>> own;

    std::shared_ptr<const Zone> find(const QByteArray& tzid) {
        if (auto z = shared.named(tzid)) return z;
        auto it = own.constFind(tzid);
        if (it != own.constEnd()) return it.value();
        std::shared_ptr<const Zone> zone;
        if (icalcomponent* c = definitions.value(tzid)) {
            char* text = icalcomponent_as_ical_string_r(c);
            const QByteArray key(text ? text : "");
            std::free(text);
            zone = shared.defined(key, [c]() -> std::shared_ptr<const Zone> {
                if (!usableZone(c)) return nullptr; // its times read as floating
                auto z = std::make_shared<IcalZone>(c);
                return z->valid() ? z : nullptr;
            });
        }
        own.insert(tzid, zone);
        return zone;
    }
};

Time timeFrom(const icaltimetype& t, icalproperty* prop, FileZones& zones) {
    Time out;
    out.date = QDate(t.year, t.month, t.day);
    if (t.is_date) {
        out.kind = Time::Kind::date;
        return out;
    }
    out.time = QTime(t.hour, t.minute, std::min(t.second, 59));
    const qint64 wall = wallSeconds(out.date, out.time);
    if (icaltime_is_utc(t)) {
        out.kind = Time::Kind::utc;
        out.utcSeconds = wall;
        return out;
    }
    icalparameter* tzParam = prop ? icalproperty_get_first_parameter(prop, ICAL_TZID_PARAMETER) : nullptr;
    const char* tzid = tzParam ? icalparameter_get_tzid(tzParam) : nullptr;
    if (tzid && *tzid) {
        if (auto zone = zones.find(QByteArray(tzid))) {
            out.kind = Time::Kind::zoned;
            out.zone = zone;
            out.utcSeconds = wallToUtc(*zone, wall);
            return out;
        }
    }
    out.kind = Time::Kind::floating;
    return out;
}

bool validTime(const icaltimetype& t) {
    return !icaltime_is_null_time(t) && QDate::isValid(t.year, t.month, t.day) && t.hour >= 0 && t.hour < 24 &&
           t.minute >= 0 && t.minute < 60 && t.second >= 0 && t.second <= 60;
}

std::optional<Time> timeProperty(icalcomponent* c, icalproperty_kind kind, FileZones& zones) {
    icalproperty* p = icalcomponent_get_first_property(c, kind);
    if (!p) return std::nullopt;
    icalvalue* v = icalproperty_get_value(p);
    if (!v) return std::nullopt;
    const icaltimetype t = icalvalue_get_datetime(v);
    if (!validTime(t)) return std::nullopt;
    return timeFrom(t, p, zones);
}

EventPart eventPart(icalcomponent* c, FileZones& zones) {
    EventPart e;
    e.uid = text(icalcomponent_get_uid(c));
    e.title = optionalText(c, ICAL_SUMMARY_PROPERTY).value_or(QString()).trimmed();
    e.url = optionalText(c, ICAL_URL_PROPERTY);
    e.location = optionalText(c, ICAL_LOCATION_PROPERTY);
    e.notes = optionalText(c, ICAL_DESCRIPTION_PROPERTY);
    if (auto s = timeProperty(c, ICAL_DTSTART_PROPERTY, zones)) e.start = *s;
    e.end = timeProperty(c, ICAL_DTEND_PROPERTY, zones);
    if (icalproperty* d = icalcomponent_get_first_property(c, ICAL_DURATION_PROPERTY)) {
        const icaldurationtype dur = icalproperty_get_duration(d);
        if (!dur.is_neg && !icaldurationtype_is_bad_duration(dur))
            e.duration = Duration{qint64(dur.weeks) * 7 + dur.days,
                                  qint64(dur.hours) * 3600 + qint64(dur.minutes) * 60 + dur.seconds};
    }
    e.recurrenceId = timeProperty(c, ICAL_RECURRENCEID_PROPERTY, zones);
    return e;
}

bool isCompleted(icalcomponent* c) {
    if (icalproperty* s = icalcomponent_get_first_property(c, ICAL_STATUS_PROPERTY)) {
        const icalproperty_status st = icalproperty_get_status(s);
        if (st == ICAL_STATUS_COMPLETED || st == ICAL_STATUS_CANCELLED) return true;
    }
    if (icalcomponent_get_first_property(c, ICAL_COMPLETED_PROPERTY)) return true;
    if (icalproperty* p = icalcomponent_get_first_property(c, ICAL_PERCENTCOMPLETE_PROPERTY))
        return icalproperty_get_percentcomplete(p) >= 100;
    return false;
}

void readCalendar(icalcomponent* cal, FileZones& zones, ParsedFile& out) {
    for (icalcomponent* c = icalcomponent_get_first_component(cal, ICAL_VTIMEZONE_COMPONENT); c;
         c = icalcomponent_get_next_component(cal, ICAL_VTIMEZONE_COMPONENT)) {
        icalproperty* p = icalcomponent_get_first_property(c, ICAL_TZID_PROPERTY);
        const char* tzid = p ? icalproperty_get_tzid(p) : nullptr;
        if (tzid && *tzid) zones.definitions.insert(QByteArray(tzid), c);
    }
    QHash<QString, int> seriesOfUid;
    for (icalcomponent* c = icalcomponent_get_first_component(cal, ICAL_VEVENT_COMPONENT); c;
         c = icalcomponent_get_next_component(cal, ICAL_VEVENT_COMPONENT)) {
        EventPart part = eventPart(c, zones);
        if (!part.start.date.isValid()) continue; // no usable DTSTART: not an event we can place
        int index = seriesOfUid.value(part.uid, -1);
        if (index < 0 || part.uid.isEmpty()) {
            index = int(out.series.size());
            out.series.append(Series{});
            if (!part.uid.isEmpty()) seriesOfUid.insert(part.uid, index);
        }
        Series& series = out.series[index];
        if (part.recurrenceId) {
            series.overrides.append(std::move(part));
            continue;
        }
        if (series.master) continue; // a second master of the same UID is not valid; the first stands
        if (icalproperty* r = icalcomponent_get_first_property(c, ICAL_RRULE_PROPERTY)) {
            if (const char* v = icalproperty_get_value_as_string(r)) series.rule = QByteArray(v);
        }
        for (icalproperty* p = icalcomponent_get_first_property(c, ICAL_RDATE_PROPERTY); p;
             p = icalcomponent_get_next_property(c, ICAL_RDATE_PROPERTY)) {
            const icaldatetimeperiodtype v = icalproperty_get_rdate(p);
            const bool isPeriod = icaltime_is_null_time(v.time);
            const icaltimetype t = isPeriod ? v.period.start : v.time;
            if (!validTime(t)) continue;
            series.rdates.append(timeFrom(t, p, zones));
            std::optional<qint64> length;
            if (isPeriod && validTime(v.period.end))
                length = timeFrom(v.period.end, p, zones).seconds() - series.rdates.last().seconds();
            else if (isPeriod && !icaldurationtype_is_null_duration(v.period.duration))
                length = icaldurationtype_as_int(v.period.duration);
            series.rdateLengths.append(length && *length >= 0 ? length : std::nullopt);
        }
        for (icalproperty* p = icalcomponent_get_first_property(c, ICAL_EXDATE_PROPERTY); p;
             p = icalcomponent_get_next_property(c, ICAL_EXDATE_PROPERTY)) {
            const icaltimetype t = icalproperty_get_exdate(p);
            if (validTime(t)) series.exdates.append(timeFrom(t, p, zones));
        }
        series.master = std::move(part);
    }
    for (icalcomponent* c = icalcomponent_get_first_component(cal, ICAL_VTODO_COMPONENT); c;
         c = icalcomponent_get_next_component(cal, ICAL_VTODO_COMPONENT)) {
        if (icalcomponent_get_first_property(c, ICAL_RECURRENCEID_PROPERTY)) continue;
        TaskPart t;
        t.uid = text(icalcomponent_get_uid(c));
        t.title = optionalText(c, ICAL_SUMMARY_PROPERTY).value_or(QString()).trimmed();
        t.due = timeProperty(c, ICAL_DUE_PROPERTY, zones);
        if (icalproperty* p = icalcomponent_get_first_property(c, ICAL_PRIORITY_PROPERTY)) {
            const int pr = icalproperty_get_priority(p);
            t.priority = pr >= 1 && pr <= 9 ? pr : 0;
        }
        t.completed = isCompleted(c);
        t.recurring = icalcomponent_get_first_property(c, ICAL_RRULE_PROPERTY) != nullptr;
        out.tasks.append(std::move(t));
    }
}

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
    ev.start = QDateTime::fromSecsSinceEpoch(s, QTimeZone::utc());
    ev.end = QDateTime::fromSecsSinceEpoch(e, QTimeZone::utc());
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

void expand(const icalrecurrencetype& rule, const Time& start, qint64 from, qint64 to, Series::Expansion& ex,
            StepBudget* budget) {
    ex = Series::Expansion{from, to, {}, ex.outOfReachFrom};
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
    for (icaltimetype next = icalrecur_iterator_next(it); !icaltime_is_null_time(next);
         next = icalrecur_iterator_next(it)) {
        if (++steps > limit || ex.walls.size() >= maxOccurrences * 4) {
            if (budget && steps > limit && limit < maxRuleSteps) budget->cut = true;
            if (steps > limit && limit == maxRuleSteps && rule.count > 0 && lastWall < from) ex.outOfReachFrom = from;
            steps = std::min(steps, limit);
            break;
        }
        const qint64 wall = wallSeconds(QDate(next.year, next.month, next.day),
                                        next.is_date ? QTime(0, 0) : QTime(next.hour, next.minute, std::min(next.second, 59)));
        lastWall = wall;
        if (wall > to) break;
        if (wall >= from) ex.walls.append(wall);
    }
    icalrecur_iterator_free(it);
    if (budget) {
        budget->left -= steps;
        budget->spent += steps;
    }
}

// libical builds and frees nested components recursively, so a file nesting thousands deep
// would overflow the stack. Real files nest three or four levels (VCALENDAR, VEVENT, VALARM).
constexpr int kMaxNesting = 32;

// The deepest BEGIN nesting of the text, counted over unfolded lines as libical reads them.
int nestingDepth(const QByteArray& text) {
    int depth = 0, deepest = 0;
    QByteArray name;     // the current line's property name so far, upper case
    bool inName = false; // before the line's first ':' or ';'
    auto endName = [&] {
        const QByteArray n = name.trimmed();
        if (n == "BEGIN") deepest = std::max(deepest, ++depth);
        else if (n == "END") depth = std::max(0, depth - 1);
        inName = false;
    };
    bool lineStart = true;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (lineStart) {
            lineStart = false;
            if (c == ' ' || c == '\t') continue; // a folded continuation of the same line
            name.clear();
            inName = true;
        }
        if (c == '\n') {
            lineStart = true;
            continue;
        }
        if (!inName || c == '\r') continue;
        if (c == ':' || c == ';') endName();
        else if (name.size() < 8) name += char(std::toupper(static_cast<unsigned char>(c)));
    }
    return deepest;
}

} // namespace

qint64 wallSeconds(const QDate& date, const QTime& time) {
    return (date.toJulianDay() - kUnixEpochJulianDay) * kDay + time.msecsSinceStartOfDay() / 1000;
}

void forgetLocalOffsets() {
    t_localOffsets.clear();
    t_localZone.reset();
}

const Zone& localZone() {
    static const LocalZone zone;
    return zone;
}

qint64 wallToUtc(const Zone& zone, qint64 wall) {
    // The offset twelve hours earlier is the one in effect before any change near this time.
    const int before = zone.offsetAt(wall - 12 * 3600);
    const qint64 first = wall - before;
    if (zone.offsetAt(first) == before) return first;
    const int after = zone.offsetAt(first);
    const qint64 second = wall - after;
    if (zone.offsetAt(second) == after) return second;
    return first; // skipped wall time
}

std::shared_ptr<const Zone> ZoneCache::defined(const QByteArray& text,
                                               const std::function<std::shared_ptr<const Zone>()>& make) {
    auto it = defined_.constFind(text);
    if (it != defined_.constEnd()) return it.value();
    auto zone = make();
    defined_.insert(text, zone);
    return zone;
}

std::shared_ptr<const Zone> ZoneCache::named(const QByteArray& tzid) {
    auto it = zones_.constFind(tzid);
    if (it != zones_.constEnd()) return it.value();
    std::shared_ptr<const Zone> zone;
    QTimeZone tz;
    if (systemZoneName(tzid)) tz = QTimeZone(tzid);
    if (!tz.isValid()) {
        const QByteArray iana = QTimeZone::windowsIdToDefaultIanaId(tzid);
        if (!iana.isEmpty()) tz = QTimeZone(iana);
    }
    if (tz.isValid()) zone = std::make_shared<QtZone>(tz);
    zones_.insert(tzid, zone);
    return zone;
}

qint64 Time::seconds() const {
    switch (kind) {
    case Kind::utc:
    case Kind::zoned: return utcSeconds;
    case Kind::floating: return wallToUtc(localZone(), wallSeconds(date, time));
    case Kind::date: return wallToUtc(localZone(), wallSeconds(date, QTime(0, 0))); // midnight, or the first moment after a skipped one
    }
    return 0;
}

QDateTime Time::instant() const { return QDateTime::fromSecsSinceEpoch(seconds(), QTimeZone::utc()); }

std::optional<ParsedFile> parse(const QByteArray& text, ZoneCache& zones, QString* error) {
    if (nestingDepth(text) > kMaxNesting) {
        if (error) *error = QStringLiteral("components nested too deeply");
        return std::nullopt;
    }
    icalcomponent* root = icalparser_parse_string(text.constData());
    if (!root) {
        if (error) *error = QStringLiteral("not an iCalendar object");
        return std::nullopt;
    }
    ParsedFile out;
    FileZones fileZones{zones, {}, {}};
    bool any = false;
    if (icalcomponent_isa(root) == ICAL_VCALENDAR_COMPONENT) {
        readCalendar(root, fileZones, out);
        any = true;
    } else {
        for (icalcomponent* c = icalcomponent_get_first_component(root, ICAL_VCALENDAR_COMPONENT); c;
             c = icalcomponent_get_next_component(root, ICAL_VCALENDAR_COMPONENT)) {
            readCalendar(c, fileZones, out);
            any = true;
        }
    }
    icalcomponent_free(root);
    if (!any) {
        if (error) *error = QStringLiteral("no VCALENDAR");
        return std::nullopt;
    }
    return out;
}

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
        if (ex.outOfReachFrom && needFrom >= *ex.outOfReachFrom)
            ex = Series::Expansion{needFrom, needTo + expansionAheadSeconds, {}, ex.outOfReachFrom};
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
