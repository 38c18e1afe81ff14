// Calendar files built to be slow: one series with 40,000 moved instances and 200,000 excluded
// days, and rules narrowed to days that never come. Prints the parse and the month's expansion
// of each (the reading thread's CPU time) and the occurrences found, and exits non-zero when a
// figure misses its limit.
#include "BenchSupport.h"
#include "platform/IcsRecurrence.h"

#include <QCoreApplication>
#include <QTimeZone>
#include <cstdio>

using namespace lomex;

namespace {

QByteArray calendar(const QByteArray& body) { return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\n" + body + "END:VCALENDAR\r\n"; }

QByteArray manyOverrides() {
    QByteArray b = "BEGIN:VEVENT\r\nUID:u\r\nDTSTART:20260101T100000\r\nDTEND:20260101T103000\r\nRRULE:FREQ=HOURLY\r\n"
                   "SUMMARY:x\r\nEND:VEVENT\r\n";
    for (int i = 0; i < 40000; ++i)
        b += QStringLiteral("BEGIN:VEVENT\r\nUID:u\r\nRECURRENCE-ID:2025%1%2T%3%400\r\nDTSTART:20250101T100000\r\nEND:VEVENT\r\n")
                 .arg((i / 28) % 12 + 1, 2, 10, QLatin1Char('0'))
                 .arg(i % 28 + 1, 2, 10, QLatin1Char('0'))
                 .arg(i % 24, 2, 10, QLatin1Char('0'))
                 .arg((i / 672) % 60, 2, 10, QLatin1Char('0'))
                 .toLatin1();
    return calendar(b);
}

QByteArray manyExdates() {
    QByteArray days;
    for (int i = 0; i < 200000; ++i)
        days += QStringLiteral("%1%2%3,").arg(1800 + i / 336).arg((i / 28) % 12 + 1, 2, 10, QLatin1Char('0')).arg(i % 28 + 1, 2, 10, QLatin1Char('0')).toLatin1();
    days.chop(1);
    return calendar("BEGIN:VEVENT\r\nUID:u\r\nDTSTART:20260101T100000\r\nRRULE:FREQ=HOURLY\r\nSUMMARY:x\r\n"
                    "EXDATE;VALUE=DATE:" + days + "\r\nEND:VEVENT\r\n");
}

QByteArray neverRule(const char* rule) {
    return calendar(QByteArray("BEGIN:VEVENT\r\nUID:u\r\nDTSTART:20261202T100000Z\r\nSUMMARY:x\r\nRRULE:") + rule +
                    "\r\nEND:VEVENT\r\n");
}

struct Case {
    const char* name;
    QByteArray file;
    double limitMs;
    int events; // in December 2026
};

void measure(bench::Limits& limits, const Case& c) {
    const QDateTime from(QDate(2026, 12, 1), QTime(0, 0), QTimeZone::utc());
    int events = 0;
    const auto us = bench::sampleCpuMicros(3, [&] {
        ics::ZoneCache zones;
        const auto parsed = ics::parse(c.file, zones);
        ics::forgetLocalOffsets();
        events = 0;
        for (const ics::Series& s : parsed ? parsed->series : QList<ics::Series>{})
            events += int(ics::occurrences(s, "c", from, from.addDays(31)).size());
    });
    std::printf("%s (%.1f MB): %d events in the month\n", c.name, c.file.size() / 1e6, events);
    limits.atMost("parse + the month's occurrences, median of 3 (CPU)", bench::percentile(us, 50) / 1000, c.limitMs, "ms");
    limits.exactly("occurrences in the month", events, c.events);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    bench::Limits limits;
    // A file of the 4 MB a calendar file may have is read in well under a second (these take a
    // quarter to a half of one); a rule for a day that never comes gives up at once instead of
    // stepping until its bound. Every hour of December 2026 is an occurrence (744); the never
    // rules have only their first.
    const Case cases[] = {
        {"40,000 moved instances of one series", manyOverrides(), 1000, 744},
        {"200,000 excluded days of one series", manyExdates(), 1000, 744},
        {"daily, only on 30 February", neverRule("FREQ=DAILY;BYMONTH=2;BYMONTHDAY=30"), 20, 1},
        {"yearly, only on 31 February", neverRule("FREQ=YEARLY;BYMONTH=2;BYMONTHDAY=31"), 20, 1},
        {"every second, only on 30 February", neverRule("FREQ=SECONDLY;BYMONTH=2;BYMONTHDAY=30"), 20, 1},
    };
    for (const Case& c : cases) measure(limits, c);
    return limits.exitCode();
}
