// Calendars at the size real people keep them: 300 weekday stand-ups counted from 2018 (with a
// rule made to step for ever beside them), and one calendar in each of 1,000 folders. Reads each
// through the store as the app does and lists one week; prints the rule steps, the time and the
// occurrences, and exits non-zero when a figure misses its limit.
#include "BenchSupport.h"
#include "platform/FolderWatch.h"
#include "platform/IcsRecurrence.h"
#include "platform/VdirCalendarStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>
#include <cstdio>

using namespace lomex;

namespace {

constexpr double kStandupsMs = 1000;   // read 300 stand-ups and list the week
constexpr double kRescanMs = 300;      // the same again with nothing changed
constexpr double kFoldersMs = 2000;    // read 1,000 folders in the background, list the week
constexpr double kStallMs = 16;        // the longest GUI pass meanwhile: one frame

const QByteArray zone = "BEGIN:VTIMEZONE\r\nTZID:Europe/Prague\r\nBEGIN:DAYLIGHT\r\nTZOFFSETFROM:+0100\r\n"
                        "TZOFFSETTO:+0200\r\nDTSTART:19810329T020000\r\nRRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=-1SU\r\n"
                        "END:DAYLIGHT\r\nBEGIN:STANDARD\r\nTZOFFSETFROM:+0200\r\nTZOFFSETTO:+0100\r\n"
                        "DTSTART:19961027T030000\r\nRRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU\r\nEND:STANDARD\r\nEND:VTIMEZONE\r\n";

void write(const QString& path, const QByteArray& uid, const QByteArray& lines) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly)) return;
    f.write("BEGIN:VCALENDAR\r\nVERSION:2.0\r\n" + zone + "BEGIN:VEVENT\r\nUID:" + uid + "\r\nSUMMARY:" + uid + "\r\n" +
            lines + "END:VEVENT\r\nEND:VCALENDAR\r\n");
}

QDateTime prague(int y, int m, int d) { return QDateTime(QDate(y, m, d), QTime(0, 0), QTimeZone("Europe/Prague")); }

} // namespace

int main(int argc, char** argv) {
    qputenv("TZ", "Europe/Prague");
    QCoreApplication app(argc, argv);
    QTemporaryDir home;
    bench::Limits limits;

    const QString standups = home.path() + "/standups";
    for (int i = 0; i < 300; ++i) {
        QDate d = QDate(2018, 1, 1).addDays(i % 230);
        while (d.dayOfWeek() > 5) d = d.addDays(1);
        const QByteArray uid = "standup-" + QByteArray::number(i);
        write(standups + "/prace/" + uid + ".ics", uid,
              "DTSTART;TZID=Europe/Prague:" + d.toString("yyyyMMdd").toLatin1() + "T0800" +
                  QByteArray::number(10 + i % 50) + "\r\nDURATION:PT15M\r\nRRULE:FREQ=WEEKLY;BYDAY=MO,TU,WE,TH,FR;COUNT=3000\r\n");
    }
    write(standups + "/prace/hostile.ics", "hostile",
          "DTSTART:19000101T000000Z\r\nRRULE:FREQ=MONTHLY;BYMONTHDAY=1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21,22,23,24,25,26,27,28;COUNT=999999999\r\n");
    {
        VdirCalendarStore store(standups);
        QElapsedTimer t;
        t.start();
        store.scanNow();
        const auto week = store.events(prague(2027, 3, 22), prague(2027, 3, 29));
        const double ms = t.nsecsElapsed() / 1e6;
        std::printf("300 weekday stand-ups from 2018 and one hostile rule: %lld rule steps, %d skipped\n",
                    (long long)store.ruleStepsOfLastScan(), store.skippedSeriesOfLastScan());
        limits.atMost("read + list the week of 22 March 2027", ms, kStandupsMs, "ms");
        limits.exactly("occurrences that week", double(week.size()), 1500);
        t.restart();
        store.scanNow();
        (void)store.events(prague(2027, 3, 22), prague(2027, 3, 29));
        limits.atMost("rescan unchanged + list", t.nsecsElapsed() / 1e6, kRescanMs, "ms");
        limits.exactly("rule steps of the rescan", double(store.ruleStepsOfLastScan()), 0);
    }

    const QString many = home.path() + "/folders";
    for (int i = 0; i < 1000; ++i) {
        const QByteArray uid = "m" + QByteArray::number(i);
        write(many + QStringLiteral("/shared-%1/%2.ics").arg(i, 4, 10, QChar('0')).arg(QString::fromLatin1(uid)), uid,
              "DTSTART;TZID=Europe/Prague:20270323T100000\r\nDURATION:PT1H\r\nRRULE:FREQ=WEEKLY;COUNT=600\r\n");
    }
    {
        VdirCalendarStore store(many);
        bench::StallMeter stalls;
        QElapsedTimer t;
        t.start();
        stalls.start();
        store.lookForChanges();
        while (store.isScanning()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
        stalls.stop();
        const auto week = store.events(prague(2027, 3, 22), prague(2027, 3, 29));
        const double ms = t.nsecsElapsed() / 1e6;
        std::printf("1,000 folders of one calendar each: %lld rule steps, %d snapshots taken, %d watch changes\n",
                    (long long)store.ruleStepsOfLastScan(), store.snapshotsTaken(), store.folderWatch()->changesMade());
        limits.atMost("read in the background + list the week", ms, kFoldersMs, "ms");
        limits.atMost("longest GUI-thread pass meanwhile (CPU)", stalls.longestCpuMs(), kStallMs, "ms");
        limits.atMost("snapshots taken", store.snapshotsTaken(), std::floor(ms / VdirCalendarStore::publishMs) + 2);
        limits.atMost("watch changes", store.folderWatch()->changesMade(), 1001);
        limits.atLeast("occurrences that week", double(week.size()), 1000);
    }
    return limits.exitCode();
}
