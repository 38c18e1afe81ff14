#include "platform/IcsItems.h"
#include "platform/IcsGuards.h"

#include <QHash>
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <libical/ical.h>

namespace lomex::ics {

namespace {

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

} // namespace lomex::ics
