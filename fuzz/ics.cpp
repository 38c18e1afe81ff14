// Fuzzes the iCalendar reader: arbitrary files are parsed, and every series is expanded over a
// month and every recurring task stepped once, as the agenda does.
#include "platform/IcsRecurrence.h"
#include <QTimeZone>
#include <cstdlib>

using namespace lomex;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    ics::ZoneCache zones;
    const auto parsed = ics::parse(bytes, zones);
    if (!parsed)
        return 0;
    ics::forgetLocalOffsets();
    const QDateTime from(QDate(2026, 12, 1), QTime(0, 0), QTimeZone::utc());
    const QDateTime to = from.addDays(31);
    for (const ics::Series& s : parsed->series) {
        const auto events = ics::occurrences(s, QStringLiteral("cal"), from, to);
        if (events.size() > ics::maxOccurrences + s.rdates.size() + s.overrides.size() + 1)
            abort();
        for (const CalendarEvent& e : events) {
            if (e.end < e.start || e.start >= to)
                abort();
        }
    }
    for (const ics::TaskPart& t : parsed->tasks) {
        if (t.priority < 0 || t.priority > 9)
            abort();
    }
    return 0;
}
