#include "platform/IcsNewItems.h"

#include <cstdlib>
#include <libical/ical.h>

namespace lomex::ics {

namespace {

icaltimetype utcTime(const QDateTime& t) {
    return icaltime_from_timet_with_zone(time_t(t.toSecsSinceEpoch()), 0, icaltimezone_get_utc_timezone());
}

icaltimetype dateValue(const QDate& d) {
    icaltimetype t = icaltime_null_date();
    t.year = d.year();
    t.month = d.month();
    t.day = d.day();
    return t;
}

QByteArray serialize(icalcomponent* cal) {
    char* s = icalcomponent_as_ical_string_r(cal);
    QByteArray out(s);
    std::free(s);
    icalcomponent_free(cal);
    return out;
}

icalcomponent* newCalendar() {
    icalcomponent* cal = icalcomponent_new(ICAL_VCALENDAR_COMPONENT);
    icalcomponent_add_property(cal, icalproperty_new_version("2.0"));
    icalcomponent_add_property(cal, icalproperty_new_prodid("-//Lomex//Lomex//EN"));
    return cal;
}

void addCommon(icalcomponent* c, const QString& uid, const QString& title) {
    const icaltimetype now = icaltime_current_time_with_zone(icaltimezone_get_utc_timezone());
    icalcomponent_add_property(c, icalproperty_new_uid(uid.toUtf8().constData()));
    icalcomponent_add_property(c, icalproperty_new_dtstamp(now));
    icalcomponent_add_property(c, icalproperty_new_created(now));
    icalcomponent_add_property(c, icalproperty_new_lastmodified(now));
    icalcomponent_add_property(c, icalproperty_new_summary(title.toUtf8().constData()));
}

icalcomponent* alarm(const QString& title, icaltriggertype trigger) {
    icalcomponent* a = icalcomponent_new(ICAL_VALARM_COMPONENT);
    icalcomponent_add_property(a, icalproperty_new_action(ICAL_ACTION_DISPLAY));
    icalcomponent_add_property(a, icalproperty_new_description(title.toUtf8().constData()));
    icalcomponent_add_property(a, icalproperty_new_trigger(trigger));
    return a;
}

} // namespace

QByteArray newEventText(const QString& uid, const NewEvent& e) {
    icalcomponent* cal = newCalendar();
    icalcomponent* ev = icalcomponent_new(ICAL_VEVENT_COMPONENT);
    addCommon(ev, uid, e.title);
    if (e.allDay) {
        // DTEND of an all-day event is exclusive: the next day.
        icalcomponent_add_property(ev, icalproperty_new_dtstart(dateValue(e.day)));
        icalcomponent_add_property(ev, icalproperty_new_dtend(dateValue(e.day.addDays(1))));
    } else {
        icalcomponent_add_property(ev, icalproperty_new_dtstart(utcTime(e.start)));
        icalcomponent_add_property(ev, icalproperty_new_dtend(utcTime(e.end)));
    }
    if (e.alarmSecondsBefore) {
        icaltriggertype trigger{icaltime_null_time(), icaldurationtype_from_int(-*e.alarmSecondsBefore)};
        icalcomponent_add_component(ev, alarm(e.title, trigger));
    }
    icalcomponent_add_component(cal, ev);
    return serialize(cal);
}

QByteArray newTaskText(const QString& uid, const NewTask& t) {
    icalcomponent* cal = newCalendar();
    icalcomponent* todo = icalcomponent_new(ICAL_VTODO_COMPONENT);
    addCommon(todo, uid, t.title);
    icalcomponent_add_property(todo, icalproperty_new_status(ICAL_STATUS_NEEDSACTION));
    if (t.dueDay) icalcomponent_add_property(todo, icalproperty_new_due(dateValue(*t.dueDay)));
    else if (t.dueTime) icalcomponent_add_property(todo, icalproperty_new_due(utcTime(*t.dueTime)));
    if (t.priority >= 1 && t.priority <= 9) icalcomponent_add_property(todo, icalproperty_new_priority(t.priority));
    if (t.alarmAt) {
        icaltriggertype trigger{utcTime(*t.alarmAt), icaldurationtype_null_duration()};
        icalcomponent_add_component(todo, alarm(t.title, trigger));
    }
    icalcomponent_add_component(cal, todo);
    return serialize(cal);
}

} // namespace lomex::ics
