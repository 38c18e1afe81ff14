// The calendar service's refresh over vdir folders: 2,000 events in 5 calendars, a fifth of them
// recurring (daily, weekly, monthly, with exceptions, in a zone, in UTC and floating), plus 200
// tasks. Prints the cold start (first scan that parses every file, then the first refresh), the
// background rescan of unchanged files, and the warm refresh on the GUI thread (aim: under 5 ms).
#include "BenchSupport.h"
#include "calendar/EventService.h"
#include "core/Settings.h"
#include "platform/VdirCalendarStore.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>

using namespace lomex;

namespace {

const char* kZone =
    "BEGIN:VTIMEZONE\r\nTZID:Europe/Prague\r\nBEGIN:DAYLIGHT\r\nTZOFFSETFROM:+0100\r\nTZOFFSETTO:+0200\r\n"
    "TZNAME:CEST\r\nDTSTART:19700329T020000\r\nRRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=-1SU\r\nEND:DAYLIGHT\r\n"
    "BEGIN:STANDARD\r\nTZOFFSETFROM:+0200\r\nTZOFFSETTO:+0100\r\nTZNAME:CET\r\nDTSTART:19701025T030000\r\n"
    "RRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU\r\nEND:STANDARD\r\nEND:VTIMEZONE\r\n";

QString stamp(const QDateTime& t, bool utc) {
    return utc ? t.toUTC().toString("yyyyMMdd'T'HHmmss'Z'") : t.toString("yyyyMMdd'T'HHmmss");
}

void write(const QString& path, const QString& text) {
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(text.toUtf8());
}

void makeVdir(const QString& root, const QDateTime& now) {
    const char* rules[] = {"FREQ=DAILY", "FREQ=WEEKLY;BYDAY=MO,WE,FR", "FREQ=MONTHLY;BYMONTHDAY=1,15",
                           "FREQ=WEEKLY;INTERVAL=2", "FREQ=DAILY;COUNT=400"};
    int n = 0;
    for (int c = 0; c < 5; ++c) {
        const QString dir = QStringLiteral("%1/cal%2").arg(root).arg(c);
        QDir().mkpath(dir);
        write(dir + "/displayname", QStringLiteral("Kalendář %1").arg(c));
        for (int i = 0; i < 400; ++i, ++n) {
            const bool recurring = n % 5 == 0;
            const int kind = n % 3; // zoned, UTC, floating
            QDateTime start = now.addDays(recurring ? -(n % 360) : (n % 61) - 30).addSecs(qint64(n % 24) * 3600 - now.time().hour() * 3600);
            QString ev = QStringLiteral("BEGIN:VEVENT\r\nUID:bench-%1\r\nDTSTAMP:20270101T000000Z\r\n"
                                        "SUMMARY:Schůzka číslo %1 s dlouhým názvem\r\nLOCATION:https://meet.google.com/abc-%1\r\n")
                             .arg(n);
            const QString prop = kind == 0 ? QStringLiteral(";TZID=Europe/Prague:") : QStringLiteral(":");
            ev += "DTSTART" + prop + stamp(start, kind == 1) + "\r\n";
            ev += "DTEND" + prop + stamp(start.addSecs(3600), kind == 1) + "\r\n";
            if (recurring) {
                ev += QStringLiteral("RRULE:%1\r\n").arg(rules[(n / 5) % 5]);
                ev += "EXDATE" + prop + stamp(start.addDays(7), kind == 1) + "\r\n";
            }
            ev += "END:VEVENT\r\n";
            write(QStringLiteral("%1/bench-%2.ics").arg(dir).arg(n),
                  "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//bench//EN\r\n" + QString(kind == 0 ? kZone : "") + ev +
                      "END:VCALENDAR\r\n");
        }
        if (c == 4)
            for (int t = 0; t < 200; ++t)
                write(QStringLiteral("%1/task-%2.ics").arg(dir).arg(t),
                      QStringLiteral("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VTODO\r\nUID:task-%1\r\nSUMMARY:Úkol %1\r\n"
                                     "DUE;VALUE=DATE:%2\r\nPRIORITY:%3\r\nEND:VTODO\r\nEND:VCALENDAR\r\n")
                          .arg(t)
                          .arg(now.date().addDays(t % 20 - 10).toString("yyyyMMdd"))
                          .arg(t % 10));
    }
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir home;
    bench::useHome(home.path());
    Settings::shared().registerLaunchDefaults();
    Settings::shared().setInt("agendaDays", 7);
    const QString root = home.path() + "/calendars";
    makeVdir(root, QDateTime::currentDateTime());

    VdirCalendarStore store(root);
    EventService service(&store);
    QElapsedTimer t;
    t.start();
    store.scanNow();
    const double scanMs = t.nsecsElapsed() / 1e6;
    t.restart();
    service.refresh();
    const double firstRefreshMs = t.nsecsElapsed() / 1e6;
    std::printf("cold: first scan (parses %d files) %.1f ms, then the first refresh %.2f ms on the GUI thread\n",
                store.parsedFiles(), scanMs, firstRefreshMs);
    std::printf("agenda: %lld today, %lld in the week\n", (long long)service.todayEvents().size(),
                (long long)service.upcomingEvents().size());

    const auto rescan = bench::sampleMicros(10, [&] { store.scanNow(); });
    std::printf("rescan of unchanged files (off the GUI thread every 30 s): median %.2f ms, parsed again: %d\n",
                bench::percentile(rescan, 50) / 1000, store.parsedFiles() - 2200);

    const auto warm = bench::sampleMicros(50, [&] { service.refresh(); });
    std::printf("warm refresh on the GUI thread: median %.2f ms, p95 %.2f ms (aim < 5 ms)\n",
                bench::percentile(warm, 50) / 1000, bench::percentile(warm, 95) / 1000);
    return 0;
}
