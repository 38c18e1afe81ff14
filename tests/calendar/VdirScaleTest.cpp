// Calendars and address books of the size real people and sync tools make: hundreds of recurring
// meetings, a folder per shared calendar, one address book linked many times over.
#include "CalendarTestSupport.h"
#include "platform/ContactStore.h"
#include "platform/FolderWatch.h"
#include "platform/IcsRecurrence.h"
#include "platform/VdirCalendarStore.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace lomex;
using test::prague;

namespace {

void writeFile(const QString& path, const QByteArray& data) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(data);
}

// The zone as calendar programs write it: the two yearly changes.
const QByteArray pragueZone = "BEGIN:VTIMEZONE\r\nTZID:Europe/Prague\r\nBEGIN:DAYLIGHT\r\nTZOFFSETFROM:+0100\r\n"
                              "TZOFFSETTO:+0200\r\nTZNAME:CEST\r\nDTSTART:19810329T020000\r\n"
                              "RRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=-1SU\r\nEND:DAYLIGHT\r\nBEGIN:STANDARD\r\n"
                              "TZOFFSETFROM:+0200\r\nTZOFFSETTO:+0100\r\nTZNAME:CET\r\nDTSTART:19961027T030000\r\n"
                              "RRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU\r\nEND:STANDARD\r\nEND:VTIMEZONE\r\n";

QByteArray calendar(const QByteArray& uid, const QByteArray& lines) {
    return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//test//EN\r\n" + pragueZone + "BEGIN:VEVENT\r\nUID:" + uid +
           "\r\nSUMMARY:" + uid + "\r\n" + lines + "END:VEVENT\r\nEND:VCALENDAR\r\n";
}

struct Standup {
    QByteArray uid;
    QDate first; // a weekday
    QTime time;
};

// Stand-ups begun on different weekdays of 2018, at different times of the morning.
QList<Standup> standups(int n) {
    QList<Standup> out;
    for (int i = 0; i < n; ++i) {
        QDate d = QDate(2018, 1, 1).addDays(i % 230);
        while (d.dayOfWeek() > 5) d = d.addDays(1);
        out.append({"standup-" + QByteArray::number(i), d, QTime(8, 0).addSecs(60 * 5 * (i % 24))});
    }
    return out;
}

// What the rule says, found by walking the days: the first 3000 weekdays from the first one.
QSet<QString> walkedInstances(const QList<Standup>& list, const QDateTime& from, const QDateTime& to) {
    QSet<QString> out;
    for (const Standup& s : list) {
        int n = 0;
        for (QDate d = s.first; n < 3000; d = d.addDays(1)) {
            if (d.dayOfWeek() > 5) continue;
            ++n;
            const QDateTime at(d, s.time, QTimeZone("Europe/Prague"));
            if (at >= from && at < to) out.insert(QString::fromLatin1(s.uid) + u'@' + at.toUTC().toString(Qt::ISODate));
        }
    }
    return out;
}

} // namespace

// A work calendar of 300 weekday stand-ups, each counted from 2018: every instance of the week
// is listed, whatever else the folder holds. Rules made to step for ever are bounded one by one
// and skipped, and take nothing away from the others.
TEST(VdirStoreScale, EveryStandupOfAWeekIsListedBesideHostileRules) {
    test::TempHome home;
    test::ZoneScope zone{"Europe/Prague"};
    const QString root = home.file("cals");
    const QList<Standup> list = standups(300);
    for (const Standup& s : list)
        writeFile(root + "/prace/" + s.uid + ".ics",
                  calendar(s.uid, "DTSTART;TZID=Europe/Prague:" + s.first.toString("yyyyMMdd").toLatin1() + "T" +
                                      s.time.toString("HHmmss").toLatin1() +
                                      "\r\nDURATION:PT15M\r\nRRULE:FREQ=WEEKLY;BYDAY=MO,TU,WE,TH,FR;COUNT=3000\r\n"));
    const QList<std::pair<QByteArray, QByteArray>> hostile = {
        {"a-secondly", "DTSTART:20180101T000000Z\r\nRRULE:FREQ=SECONDLY;COUNT=2147483647\r\n"},
        {"a-daily-from-1900", "DTSTART:19000101T000000Z\r\nRRULE:FREQ=DAILY;BYDAY=MO,TU,WE,TH,FR,SA,SU;COUNT=999999999\r\n"},
        {"a-leap-until-9999", "DTSTART:20000229T000000Z\r\nRRULE:FREQ=YEARLY;BYMONTH=2;BYMONTHDAY=29;UNTIL=99991231T000000Z\r\n"},
        {"a-monthly-from-1900", "DTSTART:19000101T000000Z\r\nRRULE:FREQ=MONTHLY;BYMONTHDAY=1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21,22,23,24,25,26,27,28;COUNT=999999999\r\n"},
        {"a-year-99999", "DTSTART:99991231T000000Z\r\nRRULE:FREQ=DAILY;BYDAY=MO;UNTIL=999991231T000000Z\r\n"},
    };
    for (const auto& [uid, lines] : hostile) writeFile(root + "/prace/" + uid + ".ics", calendar(uid, lines));

    VdirCalendarStore store(root);
    store.scanNow();
    const QDateTime from = prague(2027, 3, 22), to = prague(2027, 3, 29);
    QSet<QString> listed;
    int standupCount = 0;
    for (const CalendarEvent& e : store.events(from, to)) {
        if (!e.uid.startsWith("standup-")) continue;
        ++standupCount;
        listed.insert(e.uid + u'@' + e.start.toUTC().toString(Qt::ISODate));
    }
    const QSet<QString> walked = walkedInstances(list, from, to);
    EXPECT_EQ(walked.size(), 1500);
    EXPECT_EQ(standupCount, 1500);
    EXPECT_EQ(listed, walked);
    // The one hostile rule that cannot be followed in its steps is skipped and said so.
    EXPECT_EQ(store.skippedSeriesOfLastScan(), 1);
    EXPECT_TRUE(store.skippedSeries().firstFile.endsWith("a-monthly-from-1900.ics")) << store.skippedSeries().firstFile.toStdString();
    EXPECT_LE(store.ruleStepsOfLastScan(), VdirCalendarStore::maxScanRuleSteps);

    // An unchanged folder is not read or stepped again, and says the same.
    const int parsed = store.parsedFiles();
    store.scanNow();
    EXPECT_EQ(store.parsedFiles(), parsed);
    EXPECT_EQ(store.ruleStepsOfLastScan(), 0);
    EXPECT_EQ(store.skippedSeriesOfLastScan(), 1);

    // Each hostile rule alone stays within its own bound.
    for (const auto& [uid, lines] : hostile) {
        ics::ZoneCache zones;
        const auto p = ics::parse(calendar(uid, lines), zones);
        ASSERT_TRUE(p) << uid.constData();
        for (const ics::Series& s : p->series) {
            ics::StepBudget budget{VdirCalendarStore::maxScanRuleSteps};
            (void)ics::occurrences(s, "c", from, to, &budget);
            EXPECT_LE(budget.spent, ics::maxRuleSteps) << uid.constData();
        }
    }
}

// A counted series used up years ago is stepped to its end once; later weeks cost nothing.
TEST(VdirStoreScale, ACountedSeriesUsedUpIsSteppedOnce) {
    test::ZoneScope zone{"Europe/Prague"};
    ics::ZoneCache zones;
    const auto parsed = ics::parse(calendar("old", "DTSTART;TZID=Europe/Prague:20000103T090000\r\nDURATION:PT15M\r\n"
                                                   "RRULE:FREQ=WEEKLY;BYDAY=MO,TU,WE,TH,FR;COUNT=3000\r\n"),
                                   zones);
    ASSERT_TRUE(parsed && parsed->series.size() == 1);
    for (int week = 0; week < 4; ++week) {
        ics::StepBudget budget{VdirCalendarStore::maxScanRuleSteps};
        const QDateTime from = prague(2027, 3, 22).addDays(7 * 30 * week);
        EXPECT_TRUE(ics::occurrences(parsed->series[0], "c", from, from.addDays(7), &budget).isEmpty());
        EXPECT_FALSE(budget.cut);
        if (week == 0) EXPECT_EQ(budget.spent, 3000);
        else EXPECT_EQ(budget.spent, 0) << week;
    }
}

// One calendar in each of 1,000 folders (a sync tool's folder per shared calendar): the GUI
// thread gets what is read at a bounded rate, and the watch changes by what changed.
TEST(VdirStoreScale, ManyFoldersArePublishedAtABoundedRate) {
    test::TempHome home;
    test::ZoneScope zone{"Europe/Prague"};
    const QString root = home.file("cals");
    constexpr int folders = 1000;
    for (int i = 0; i < folders; ++i) {
        const QByteArray uid = "m" + QByteArray::number(i);
        writeFile(root + QStringLiteral("/shared-%1/%2.ics").arg(i, 4, 10, QChar('0')).arg(QString::fromLatin1(uid)),
                  calendar(uid, "DTSTART;TZID=Europe/Prague:20270323T100000\r\nDURATION:PT1H\r\n"));
    }
    VdirCalendarStore store(root);
    int changed = 0;
    QObject::connect(&store, &CalendarStore::changed, [&] { ++changed; });
    QElapsedTimer scan;
    scan.start();
    store.lookForChanges();
    ASSERT_TRUE(test::waitUntil([&] { return !store.isScanning(); }, 120000));
    const qint64 ms = scan.elapsed();
    // One publish per publishMs at most, and the last one.
    EXPECT_LE(store.snapshotsTaken(), ms / VdirCalendarStore::publishMs + 2) << ms << " ms";
    EXPECT_LE(changed, store.snapshotsTaken());
    EXPECT_EQ(store.folderWatch()->changesMade(), folders + 1);
    EXPECT_EQ(store.events(prague(2027, 3, 22), prague(2027, 3, 29)).size(), folders);

    // Nothing changed: nothing published as new, nothing watched again.
    store.lookForChanges();
    ASSERT_TRUE(test::waitUntil([&] { return !store.isScanning(); }, 120000));
    EXPECT_EQ(store.folderWatch()->changesMade(), folders + 1);
    // One folder gone: one watch less.
    ASSERT_TRUE(QDir(root + "/shared-0007").removeRecursively());
    store.scanNow();
    EXPECT_EQ(store.folderWatch()->changesMade(), folders + 2);
    EXPECT_EQ(store.calendars(CalendarStore::Entity::event).size(), folders - 1);
}

// One address book of 30,000 cards linked three times over gives 50,000 contacts, not 90,000;
// a card too large to be a person's is skipped and its neighbours are read.
TEST(VdirContactsScale, CardsAreBoundedInNumberAndSize) {
    test::TempHome home;
    const QString root = home.file("contacts");
    QByteArray book;
    for (int i = 0; i < 30000; ++i)
        book += "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Novak;Jan" + QByteArray::number(i) + ";;;\r\nEND:VCARD\r\n";
    writeFile(root + "/a.vcf", book);
    for (const char* link : {"/b.vcf", "/c.vcf"})
        ASSERT_EQ(::link(QFile::encodeName(root + "/a.vcf").constData(), QFile::encodeName(root + link).constData()), 0);
    VdirContactStore store(root);
    bool failed = false;
    EXPECT_EQ(store.contacts(&failed).size(), VdirContactStore::maxCards);
    EXPECT_TRUE(failed);

    const QByteArray huge = "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Velky;Jiri;;;\r\nNOTE:" +
                            QByteArray(VdirContactStore::maxCardBytes, 'x') + "\r\nEND:VCARD\r\n";
    const QList<Contact> read = vcard::read("BEGIN:VCARD\r\nVERSION:3.0\r\nN:Mala;Eva;;;\r\nEND:VCARD\r\n" + huge +
                                            "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Dvorak;Petr;;;\r\nEND:VCARD\r\n");
    ASSERT_EQ(read.size(), 2);
    EXPECT_EQ(read[0].givenName, "Eva");
    EXPECT_EQ(read[1].givenName, "Petr");
}
