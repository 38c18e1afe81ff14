#pragma once

#include <libical/ical.h>

// What libical reads but must not be used as it stands: impossible dates, and rules it would
// step for centuries, in events and in a file's VTIMEZONE alike.
namespace lomex::ics {

// A real day and time of day; libical takes any digits ("20235161").
bool validTime(const icaltimetype& t);
// Whether a BY part of a rule is given.
bool hasPart(const short* by);
// Not a rule of seconds, minutes or hours that BY parts make rare.
bool followable(const icalrecurrencetype& r);
// Some day fits the rule's month, day and weekday parts (not 30 February).
bool someDayFits(const icalrecurrencetype& r);
// A VTIMEZONE whose changes are yearly and few enough to list.
bool usableZone(icalcomponent* vtimezone);

} // namespace lomex::ics
