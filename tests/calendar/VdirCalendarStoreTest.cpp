#include "CalendarTestSupport.h"
#include "calendar/Calendar.h"
#include "calendar/EventService.h"
#include "calendar/QuickAddParser.h"
#include "core/Clock.h"
#include "core/Settings.h"
#include "platform/Workspace.h"
#include "platform/FolderWatch.h"
#include "platform/IcsRecurrence.h"
#include "platform/VdirCalendarStore.h"
#include "FakeClock.h"
#include "FakeWorkspace.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <gtest/gtest.h>
#include <libical/ical.h>
#include <sys/stat.h>

using namespace lomex;
using test::prague;

namespace {

using Entity = CalendarStore::Entity;

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& data) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(data);
}

// A copy of the fixture folders in the test's home, so tests may write.
QString copyFixtures(const test::TempHome& home) {
    const QString root = home.file("calendars");
    const QString from = test::fixtures("calendars");
    QDirIterator it(from, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString target = root + path.mid(from.size());
        QDir().mkpath(QFileInfo(target).absolutePath());
        QFile::copy(path, target);
        QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner);
    }
    return root;
}

QString local(const QDateTime& t) { return t.toTimeZone(QTimeZone("Europe/Prague")).toString("ddd d.M HH:mm"); }

class VdirStoreTest : public test::LomexTest {
protected:
    VdirStoreTest() : root(copyFixtures(home)), store(root, &clock) { store.scanNow(); }

    QList<CalendarTask> tasks(const QDateTime& before) {
        QList<CalendarTask> out;
        bool done = false;
        store.fetchIncompleteTasks(before, &store, [&](QList<CalendarTask> t) {
            out = std::move(t);
            done = true;
        });
        EXPECT_FALSE(done); // never answered inside the call
        EXPECT_TRUE(test::waitUntil([&] { return done; }));
        return out;
    }
    std::optional<CalendarTask> task(const QString& uid) {
        for (const CalendarTask& t : tasks(prague(2030, 1, 1)))
            if (t.uid == uid) return t;
        return std::nullopt;
    }

    test::ZoneScope zone{"Europe/Prague"};
    FakeClock clock{prague(2027, 3, 22, 8, 0)};
    QString root;
    VdirCalendarStore store;
};

TEST_F(VdirStoreTest, FixtureWeekAsOtherCalendarsShowIt) {
    QList<CalendarEvent> events = store.events(prague(2027, 3, 22), prague(2027, 3, 30));
    std::stable_sort(events.begin(), events.end(), [](auto& a, auto& b) { return a.start < b.start; });
    QStringList seen;
    for (const CalendarEvent& e : events)
        seen << QStringLiteral("%1 | %2 | %3 - %4%5").arg(e.calendarId, e.title.left(22), local(e.start), local(e.end),
                                                         e.allDay ? " all day" : "");
    const QStringList expected = {
        // A trip of the week before ends (exclusive) on Tuesday: Monday only.
        "osobni | Vídeň, Rakousko, březe | Thu 18.3 00:00 - Tue 23.3 00:00 all day",
        // UTC start with DURATION.
        "rodina | Zápis do první třídy | Mon 22.3 10:30 - Mon 22.3 11:45",
        // Weekdays in Zurich: 14:00 on both sides of the change to summer time.
        "prace | Denní stand-up | Mon 22.3 14:00 - Mon 22.3 14:30",
        // The instance of 18 March moved to Monday, 09:00 US/Central; 25 March is excluded.
        "prace | Přehled zakázek (přesu | Mon 22.3 15:00 - Mon 22.3 18:00",
        "prace | Denní stand-up | Tue 23.3 14:00 - Tue 23.3 14:30",
        // The weekly series' UNTIL falls a second before this instance; an RDATE brings it back, once.
        "prace | Kurz angličtiny | Tue 23.3 16:15 - Tue 23.3 17:45",
        "osobni | Lisabon, Portugalsko,  | Wed 24.3 00:00 - Sat 27.3 00:00 all day",
        // Nightly in Berlin: 25 March moved (DTEND wins over DURATION:PT0S), 26 March excluded
        // by a UTC EXDATE, 28 March has no 02:30 and runs from 03:30, the last by a UTC UNTIL.
        "osobni | Pozorování oblohy | Wed 24.3 02:30 - Wed 24.3 03:30",
        // An RDATE instance, overridden through a UTC RECURRENCE-ID, moved to Tuesday 20:00 in
        // Los Angeles; it is not shown again at its own time (Monday 18:00).
        "prace | Porada s pobočkou – ve | Wed 24.3 04:00 - Wed 24.3 04:30",
        // Floating: Prague wall time.
        "osobni | Cesta z letiště Humber | Wed 24.3 10:10 - Wed 24.3 11:15",
        "prace | Denní stand-up | Wed 24.3 14:00 - Wed 24.3 14:30",
        "osobni | TP1281 PRG do LIS | Wed 24.3 15:50 - Wed 24.3 18:15",
        "prace | Kontrola smlouvy s dod | Wed 24.3 19:20 - Wed 24.3 19:50",
        // A date without DTEND or DURATION: one day.
        "rodina | Teta Věra přijede na n | Thu 25.3 00:00 - Fri 26.3 00:00 all day",
        "osobni | Pozorování oblohy (Měs | Thu 25.3 04:00 - Thu 25.3 05:00",
        // New York is on summer time already, Prague not yet; the calendar's X-WR-TIMEZONE is ignored.
        "osobni | Konference na dálku | Thu 25.3 07:30 - Fri 26.3 07:30",
        // Folded value lines, X-LIC-ERROR and a blank line inside; a floating UNTIL.
        "prace | Revize návrhu | Thu 25.3 08:00 - Thu 25.3 08:45",
        "prace | Denní stand-up | Thu 25.3 14:00 - Thu 25.3 14:30",
        // The summary's trailing space is dropped.
        "svatky | Velký pátek | Fri 26.3 00:00 - Sat 27.3 00:00 all day",
        "prace | Revize návrhu | Fri 26.3 08:00 - Fri 26.3 08:45",
        // A TZID only the file's own VTIMEZONE explains.
        "osobni | Online kurz účetnictví | Fri 26.3 13:30 - Fri 26.3 15:00",
        "prace | Denní stand-up | Fri 26.3 14:00 - Fri 26.3 14:30",
        // DATE values with a TZID parameter.
        "rodina | Jarní prázdniny (Praha | Sat 27.3 00:00 - Tue 6.4 00:00 all day",
        "osobni | Pozorování oblohy | Sat 27.3 02:30 - Sat 27.3 03:30",
        // DURATION:P1D in Los Angeles, across Prague's change: 24 real hours, 25 on the clock.
        "prace | Hackathon nonstop | Sat 27.3 14:30 - Sun 28.3 15:30",
        // A plain RDATE instance of the monthly series.
        "prace | Porada s pobočkou | Sat 27.3 18:00 - Sat 27.3 18:30",
        "rodina | Návštěva u babičky | Sat 27.3 18:15 - Sat 27.3 19:30",
        // A Windows zone name; six real hours over the change.
        "prace | Noční migrace serverů | Sat 27.3 22:30 - Sun 28.3 05:30",
        "svatky | Velikonoční neděle | Sun 28.3 00:00 - Mon 29.3 00:00 all day",
        "osobni | TP1282 LIS do PRG | Sun 28.3 01:40 - Sun 28.3 04:25",
        "osobni | Pozorování oblohy | Sun 28.3 03:30 - Sun 28.3 04:30",
        // London and Prague both on summer time.
        "rodina | Návštěva u babičky | Sun 28.3 15:00 - Sun 28.3 16:30",
        "prace | Denní stand-up | Mon 29.3 14:00 - Mon 29.3 14:30",
    };
    EXPECT_EQ(seen.join('\n').toStdString(), expected.join('\n').toStdString());
    // The exact instants of the weekly series on both sides of the change.
    for (const CalendarEvent& e : events) {
        const QDate day = e.start.toTimeZone(QTimeZone("Europe/Prague")).date();
        if (e.calendarId == "osobni" && day == QDate(2027, 3, 24) && e.allDay) {
            EXPECT_EQ(e.title, "Lisabon, Portugalsko, 24.–26. března;"); // escaped commas and semicolon
        }
        if (e.title != "Denní stand-up") continue;
        if (day == QDate(2027, 3, 26)) {
            EXPECT_EQ(e.start.toUTC().time(), QTime(13, 0));
        } else if (day == QDate(2027, 3, 29)) {
            EXPECT_EQ(e.start.toUTC().time(), QTime(12, 0));
        }
    }
}

TEST_F(VdirStoreTest, FoldersAndTheirKinds) {
    QStringList cals, lists;
    for (const CalendarInfo& c : store.calendars(Entity::event)) cals << c.id + "=" + c.title;
    for (const CalendarInfo& c : store.calendars(Entity::reminder)) lists << c.id + "=" + c.title;
    EXPECT_EQ(cals, (QStringList{"osobni=Osobní", "prace=Práce", "rodina=rodina", "svatky=Svátky"}));
    // prace holds one task beside its events, as Apple's iCal stored it.
    EXPECT_EQ(lists, (QStringList{"prace=Práce", "ukoly=Úkoly"}));
    EXPECT_EQ(store.defaultCalendar(Entity::event)->id, "osobni");
    EXPECT_EQ(store.defaultCalendar(Entity::reminder)->id, "ukoly");
    EXPECT_EQ(store.calendars(Entity::event).first().color, "#26A69AFF");
}

TEST_F(VdirStoreTest, IncompleteTasksWithDueDatesAndPriorities) {
    QStringList seen;
    for (const CalendarTask& t : tasks(prague(2027, 3, 30))) {
        const QString due = t.dueTime ? local(*t.dueTime) : t.dueDay ? t.dueDay->toString("d.M") : QString("-");
        seen << QStringLiteral("%1 | %2 | %3 | %4%5").arg(t.calendarId, t.title, due).arg(t.priority).arg(t.recurring ? " repeats" : "");
    }
    seen.sort();
    EXPECT_EQ(seen, (QStringList{
                        // 16:30 in US/Pacific is past midnight in Prague.
                        "prace | Připravit podklady pro audit | Thu 25.3 00:30 | 0",
                        "ukoly | Koupit dárek k narozeninám | Sat 20.3 17:00 | 0",
                        "ukoly | Objednat se k zubaři | Mon 22.3 17:00 | 1",
                        "ukoly | Vrátit knihy do knihovny | - | 9",
                        "ukoly | Vynést koše | 22.3 | 0 repeats",
                        "ukoly | Vyzvednout balík | 22.3 | 5",
                    }));
    // Due on or after the bound: not fetched.
    EXPECT_EQ(tasks(prague(2027, 3, 22)).size(), 2); // the overdue one and the one without a date
}

TEST_F(VdirStoreTest, UnchangedFilesAreNotParsedAgain) {
    const int first = store.parsedFiles();
    EXPECT_GT(first, 20);
    store.scanNow();
    EXPECT_EQ(store.parsedFiles(), first);
    const QString path = root + "/ukoly/no-due-low.ics";
    writeFile(path, readAll(path).replace("Vrátit knihy do knihovny", "Vrátit knihy do městské knihovny"));
    store.scanNow();
    EXPECT_EQ(store.parsedFiles(), first + 1);
    EXPECT_EQ(task("tb-no-due")->title, "Vrátit knihy do městské knihovny");
}

TEST_F(VdirStoreTest, BrokenHugeAndRunawayItemsAreBounded) {
    writeFile(root + "/prace/garbage.ics", "this is not a calendar\n\0\x01\x02");
    writeFile(root + "/prace/huge.ics", QByteArray(VdirCalendarStore::maxFileBytes + 10, 'A'));
    writeFile(root + "/prace/every-second.ics",
              "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\nUID:sec\r\nSUMMARY:tick\r\n"
              "DTSTART:20000101T000000Z\r\nDTEND:20000101T000001Z\r\nRRULE:FREQ=SECONDLY\r\nEND:VEVENT\r\n"
              "BEGIN:VEVENT\r\nUID:count\r\nSUMMARY:counted\r\nDTSTART:20270322T000000Z\r\n"
              "RRULE:FREQ=SECONDLY;COUNT=100000\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n");
    QDir().mkpath(root + "/prace/folder.ics"); // not a regular file
    store.scanNow();
    QElapsedTimer t;
    t.start();
    const QList<CalendarEvent> events = store.events(prague(2027, 3, 22), prague(2027, 3, 23));
    EXPECT_LT(t.elapsed(), 2000);
    int ticks = 0, counted = 0;
    for (const CalendarEvent& e : events) {
        ticks += e.title == "tick";
        counted += e.title == "counted";
    }
    EXPECT_LE(ticks, ics::maxOccurrences);
    EXPECT_LE(counted, ics::maxOccurrences);
    EXPECT_GT(counted, 0);
    EXPECT_TRUE(std::any_of(events.begin(), events.end(), [](auto& e) { return e.title == "Denní stand-up"; }));
}

TEST_F(VdirStoreTest, SavedItemsFollowTheRulesOfSyncTools) {
    NewEvent e;
    e.calendarId = "osobni";
    e.title = QStringLiteral("Oběd s Janou, v Lucerně; s dlouhým názvem, který se musí zalomit na více řádků podle RFC");
    e.start = prague(2027, 3, 23, 12);
    e.end = prague(2027, 3, 23, 13);
    e.alarmSecondsBefore = 600;
    ASSERT_FALSE(store.saveEvent(e));
    NewEvent allDay;
    allDay.calendarId = "osobni";
    allDay.title = "Výlet";
    allDay.allDay = true;
    allDay.day = QDate(2027, 12, 31);
    ASSERT_FALSE(store.saveEvent(allDay));
    NewTask task;
    task.calendarId = "ukoly";
    task.title = "Mléko";
    task.dueTime = prague(2027, 3, 23, 9, 30);
    task.alarmAt = task.dueTime;
    task.priority = 1;
    ASSERT_FALSE(store.saveTask(task));
    task.dueTime.reset();
    task.alarmAt.reset();
    task.dueDay = QDate(2027, 3, 24);
    task.priority = 0;
    ASSERT_FALSE(store.saveTask(task));

    int files = 0;
    for (const QString folder : {"osobni", "ukoly"}) {
        for (const QFileInfo& f : QDir(root + "/" + folder).entryInfoList(QDir::Files | QDir::Hidden)) {
            if (QFileInfo::exists(test::fixtures("calendars/") + folder + "/" + f.fileName())) continue;
            ++files;
            EXPECT_FALSE(f.fileName().startsWith('.')) << "left a temporary file " << f.fileName().toStdString();
            const QByteArray data = readAll(f.absoluteFilePath());
            // CRLF everywhere, no line longer than 75 octets.
            for (const QByteArray& line : data.split('\n')) {
                if (line.isEmpty()) continue;
                EXPECT_TRUE(line.endsWith('\r')) << line.toStdString();
                EXPECT_LE(line.size() - 1, 75) << line.toStdString();
            }
            icalcomponent* cal = icalparser_parse_string(data.constData());
            ASSERT_TRUE(cal);
            EXPECT_EQ(icalcomponent_isa(cal), ICAL_VCALENDAR_COMPONENT);
            EXPECT_STREQ(icalproperty_get_version(icalcomponent_get_first_property(cal, ICAL_VERSION_PROPERTY)), "2.0");
            EXPECT_TRUE(icalcomponent_get_first_property(cal, ICAL_PRODID_PROPERTY));
            EXPECT_EQ(icalcomponent_count_components(cal, ICAL_ANY_COMPONENT), 1);
            icalcomponent* item = icalcomponent_get_first_real_component(cal);
            // One item per file, named by its UID.
            EXPECT_EQ(f.fileName(), QString::fromUtf8(icalcomponent_get_uid(item)) + ".ics");
            EXPECT_TRUE(icalcomponent_get_first_property(item, ICAL_DTSTAMP_PROPERTY));
            icalcomponent_free(cal);
        }
    }
    EXPECT_EQ(files, 4);

    // Read back: the event at once, with its alarm, and the all-day event with an exclusive end.
    const auto events = store.events(prague(2027, 3, 23), prague(2028, 1, 2));
    auto find = [&](const QString& title) {
        for (const CalendarEvent& ev : events)
            if (ev.title == title) return std::optional(ev);
        return std::optional<CalendarEvent>();
    };
    ASSERT_TRUE(find(e.title));
    EXPECT_EQ(find(e.title)->start, e.start);
    ASSERT_TRUE(find("Výlet"));
    EXPECT_TRUE(find("Výlet")->allDay);
    EXPECT_EQ(local(find("Výlet")->end), "Sat 1.1 00:00");
    for (const QFileInfo& f : QDir(root + "/osobni").entryInfoList({"*.ics"}, QDir::Files)) {
        const QByteArray data = readAll(f.absoluteFilePath());
        if (data.contains("SUMMARY:V\xc3\xbdlet")) {
            EXPECT_TRUE(data.contains("DTSTART;VALUE=DATE:20271231\r\n"));
            EXPECT_TRUE(data.contains("DTEND;VALUE=DATE:20280101\r\n"));
            EXPECT_FALSE(data.contains("VALARM"));
        } else if (data.contains("Lucern")) {
            EXPECT_TRUE(data.contains("DTSTART:20270323T110000Z\r\n"));
            EXPECT_TRUE(data.contains("TRIGGER:-PT10M\r\n"));
        }
    }
    QStringList added;
    for (const CalendarTask& t : tasks(prague(2027, 4, 1)))
        if (t.title == "Mléko") added << (t.dueTime ? local(*t.dueTime) : t.dueDay->toString("d.M")) + " " + QString::number(t.priority);
    added.sort();
    EXPECT_EQ(added, (QStringList{"24.3 0", "Tue 23.3 09:30 1"}));

    NewEvent nowhere = e;
    nowhere.calendarId = "missing";
    EXPECT_TRUE(store.saveEvent(nowhere));
}

TEST_F(VdirStoreTest, CompletingKeepsEverythingElseModeAndLink) {
    // The task's file is a link to a file elsewhere, readable by the group.
    const QString real = home.file("elsewhere/task.ics");
    writeFile(real, readAll(root + "/ukoly/due-today-time.ics"));
    QFile::setPermissions(real, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
    QFile::remove(root + "/ukoly/due-today-time.ics");
    ASSERT_TRUE(QFile::link(real, root + "/ukoly/due-today-time.ics"));
    store.scanNow();
    const CalendarTask t = *task("d1b2c3e4-today-time");

    // Another program renamed it after our scan; completing must not undo that.
    const QByteArray before = readAll(real).replace("Objednat se k zubaři", "Objednat se k zubaři a na očkování");
    writeFile(real, before);
    ASSERT_FALSE(store.completeTask(t, prague(2027, 3, 22, 9, 15)));

    EXPECT_TRUE(QFileInfo(root + "/ukoly/due-today-time.ics").isSymLink());
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(real).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    const QByteArray after = readAll(real);
    for (const QByteArray& line : before.split('\n')) {
        if (line.startsWith("STATUS:") || line.startsWith("LAST-MODIFIED:")) continue;
        EXPECT_TRUE(after.contains(line)) << "lost: " << line.toStdString();
    }
    EXPECT_TRUE(after.contains("STATUS:COMPLETED\r\n"));
    EXPECT_TRUE(after.contains("COMPLETED:20270322T081500Z\r\n"));
    EXPECT_TRUE(after.contains("PERCENT-COMPLETE:100\r\n"));
    EXPECT_EQ(after.count("STATUS:"), 1);
    // The alarm inside keeps its own lines.
    EXPECT_TRUE(after.contains("BEGIN:VALARM\r\nACTION:DISPLAY\r\n"));
    EXPECT_FALSE(task("d1b2c3e4-today-time"));
}

TEST_F(VdirStoreTest, CompletingARecurringTaskMovesItOn) {
    const CalendarTask t = *task("weekly-bins");
    ASSERT_FALSE(store.completeTask(t, prague(2027, 3, 22, 9)));
    const QByteArray after = readAll(root + "/ukoly/weekly-recurring.ics");
    EXPECT_TRUE(after.contains("DUE;VALUE=DATE:20270329\r\n")) << after.toStdString();
    EXPECT_TRUE(after.contains("DTSTART;VALUE=DATE:20270322\r\n"));
    EXPECT_TRUE(after.contains("RRULE:FREQ=WEEKLY;COUNT=2\r\n"));
    EXPECT_FALSE(after.contains("STATUS:COMPLETED"));
    EXPECT_EQ(task("weekly-bins")->dueDay, QDate(2027, 3, 29));

    // Its last occurrence (COUNT=3) completes it for good.
    ASSERT_FALSE(store.completeTask(*task("weekly-bins"), prague(2027, 3, 29, 9)));
    EXPECT_EQ(task("weekly-bins")->dueDay, QDate(2027, 4, 5));
    ASSERT_FALSE(store.completeTask(*task("weekly-bins"), prague(2027, 4, 5, 9)));
    EXPECT_FALSE(task("weekly-bins"));

    CalendarTask gone = t;
    gone.uid = "not-there";
    EXPECT_TRUE(store.completeTask(gone, prague(2027, 3, 22, 9)));
}

// A write reads back only the file it wrote, on the caller's thread; files other programs
// changed meanwhile wait for the background scan.
TEST_F(VdirStoreTest, WritesReadBackOnlyWhatTheyWrote) {
    const std::optional<CalendarTask> noDue = task("tb-no-due");
    ASSERT_TRUE(noDue);
    const struct {
        const char* name;
        std::function<std::optional<LomexError>()> write;
        std::function<bool()> shown;
    } rows[] = {
        {"event", [&] {
             NewEvent e{"osobni", "Oběd", false, {}, prague(2027, 3, 22, 12), prague(2027, 3, 22, 13), std::nullopt};
             return store.saveEvent(e);
         },
         [&] {
             const auto events = store.events(prague(2027, 3, 22), prague(2027, 3, 23));
             return std::any_of(events.begin(), events.end(), [](auto& e) { return e.title == "Oběd"; });
         }},
        {"task", [&] { return store.saveTask(NewTask{"ukoly", "Nový úkol", {}, {}, {}, 0}); },
         [&] {
             const auto all = tasks(prague(2030, 1, 1));
             return std::any_of(all.begin(), all.end(), [](auto& t) { return t.title == "Nový úkol"; });
         }},
        {"completion", [&] { return store.completeTask(*noDue, clock.now()); }, [&] { return !task("tb-no-due"); }},
    };
    for (const auto& row : rows) {
        QDirIterator it(root, {"*.ics"}, QDir::Files, QDirIterator::Subdirectories);
        int touched = 0;
        while (it.hasNext()) {
            QFile f(it.next());
            ASSERT_TRUE(f.open(QIODevice::ReadWrite));
            f.setFileTime(QDateTime::currentDateTime().addSecs(60 + touched), QFileDevice::FileModificationTime);
            ++touched;
        }
        const int before = store.parsedFiles();
        ASSERT_FALSE(row.write()) << row.name;
        EXPECT_EQ(store.parsedFiles(), before + 1) << row.name << ": " << touched << " other files changed";
        EXPECT_TRUE(row.shown()) << row.name;
        store.scanNow();
        EXPECT_GE(store.parsedFiles(), before + touched) << row.name << ": the scan reads the others";
    }
}

TEST_F(VdirStoreTest, ChangesByOtherProgramsAreNoticed) {
    QSignalSpy changed(&store, &CalendarStore::changed);
    writeFile(root + "/rodina/new.ics", "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\nUID:n\r\nSUMMARY:Nové\r\n"
                                        "DTSTART:20270322T150000Z\r\nDTEND:20270322T160000Z\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n");
    // The folder watch waits for quiet on the injected clock, then scans in the background.
    QCoreApplication::processEvents();
    ASSERT_TRUE(test::waitUntil([&] {
        clock.advance(FolderWatch::quietSeconds);
        return changed.count() > 0;
    }));
    const auto events = store.events(prague(2027, 3, 22), prague(2027, 3, 23));
    EXPECT_TRUE(std::any_of(events.begin(), events.end(), [](auto& e) { return e.title == "Nové"; }));
}

// A TZID the zone database knows is the system's zone; any other name needs the file's own
// VTIMEZONE, else the time is floating.
TEST(IcsZones, KnownNamesOwnDefinitionsOrFloating) {
    test::ZoneScope zone{"Europe/Prague"};
    const QByteArray eastern = "BEGIN:VTIMEZONE\r\nTZID:Eastern\r\nBEGIN:STANDARD\r\nDTSTART:19501105T020000\r\n"
                               "TZOFFSETFROM:-0400\r\nTZOFFSETTO:-0500\r\nRRULE:FREQ=YEARLY;BYDAY=1SU;BYMONTH=11\r\n"
                               "END:STANDARD\r\nBEGIN:DAYLIGHT\r\nDTSTART:19500312T020000\r\nTZOFFSETFROM:-0500\r\n"
                               "TZOFFSETTO:-0400\r\nRRULE:FREQ=YEARLY;BYDAY=2SU;BYMONTH=3\r\nEND:DAYLIGHT\r\nEND:VTIMEZONE\r\n";
    const struct {
        const char* tzid;
        bool ownDefinition;
        const char* prague;
    } rows[] = {
        {"US/Central", false, "15:00"},            // an alias, no VTIMEZONE needed
        {"EST5EDT", false, "14:00"},
        {"Pacific Standard Time", false, "17:00"}, // a Windows name
        {"Eastern", true, "14:00"},                // Qt alone reads this name as UTC
        {"Eastern", false, "09:00"},               // nobody explains it: floating
        {"Nowhere/Atlantis", false, "09:00"},
    };
    for (const auto& row : rows) {
        const QByteArray data = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\n" + (row.ownDefinition ? eastern : QByteArray()) +
                                "BEGIN:VEVENT\r\nUID:z\r\nDTSTART;TZID=" + row.tzid +
                                ":20270322T090000\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
        ics::ZoneCache zones;
        const auto parsed = ics::parse(data, zones);
        ASSERT_TRUE(parsed && parsed->series.size() == 1 && parsed->series[0].master) << row.tzid;
        EXPECT_EQ(local(parsed->series[0].master->start.instant()), QStringLiteral("Mon 22.3 ") + row.prague) << row.tzid;
    }
}

TEST(VdirStoreAccess, RequestMakesOneCalendarAndOneList) {
    test::TempHome home;
    VdirCalendarStore store(home.file("cals"));
    EXPECT_FALSE(store.hasAccess(Entity::event));
    EXPECT_EQ(VdirCalendarStore::defaultRoot(), home.file(".local/share/Lomex/calendars"));
    qputenv("LOMEX_CALENDAR_DIR", home.file("synced").toUtf8());
    EXPECT_EQ(VdirCalendarStore::defaultRoot(), home.file("synced"));
    qunsetenv("LOMEX_CALENDAR_DIR");

    store.requestAccess("Kalendář", "Připomínky");
    EXPECT_TRUE(store.hasAccess(Entity::event));
    EXPECT_TRUE(store.hasAccess(Entity::reminder));
    EXPECT_EQ(store.defaultCalendar(Entity::event)->title, "Kalendář");
    EXPECT_EQ(store.defaultCalendar(Entity::reminder)->title, "Připomínky");
    NewTask t;
    t.calendarId = store.defaultCalendar(Entity::reminder)->id;
    t.title = "x";
    ASSERT_FALSE(store.saveTask(t));
    // A task in the list does not make the calendar hold tasks, nor the list hold events.
    EXPECT_EQ(store.defaultCalendar(Entity::event)->title, "Kalendář");
    EXPECT_EQ(store.calendars(Entity::event).size(), 1);
    EXPECT_EQ(store.defaultCalendar(Entity::reminder)->title, "Připomínky");
}

} // namespace

namespace {

// A quick-add line through the service into the folders and back into the agenda and the lists.
TEST_F(VdirStoreTest, QuickAddLinesLandInTheFoldersAndTheAgenda) {
    Settings::shared().registerLaunchDefaults();
    Settings::shared().setInt("agendaDays", 2);
    FakeWorkspace workspace;
    EventService service(&store, &clock, &Settings::shared(), &workspace);
    service.refresh();
    ASSERT_FALSE(service.add(QuickAddParser::parse("zítra v 10 porada s Petrem @rodina", clock.now(), Calendar::current())));
    ASSERT_FALSE(service.add(QuickAddParser::parse("připomeň mi koupit mléko dnes !!", clock.now(), Calendar::current())));
    // The lists of the refreshes before the adds may arrive first.
    ASSERT_TRUE(test::waitUntil([&] {
        return std::any_of(service.today().begin(), service.today().end(), [](auto& t) { return t.title == "Koupit mléko"; }) &&
               std::any_of(service.upcomingEvents().begin(), service.upcomingEvents().end(),
                           [](auto& e) { return e.calendarId == "rodina"; });
    }));
    QStringList upcoming;
    for (const CalendarEvent& e : service.upcomingEvents())
        if (e.calendarId == "rodina") upcoming << e.title + " " + local(e.start);
    EXPECT_EQ(upcoming, QStringList{"Porada s Petrem Tue 23.3 10:00"});
    QStringList today;
    for (const CalendarTask& t : service.today()) today << t.title + " " + t.calendarId + " " + QString::number(t.priority);
    EXPECT_TRUE(today.contains("Koupit mléko ukoly 1")) << today.join(", ").toStdString();
    // Done from the list: gone after the refresh that follows.
    for (const CalendarTask& t : service.today())
        if (t.title == "Koupit mléko") service.complete(t);
    ASSERT_TRUE(test::waitUntil([&] {
        return std::none_of(service.today().begin(), service.today().end(), [](auto& t) { return t.title == "Koupit mléko"; });
    }));
}

// Expanding every series of a large folder takes long: refresh() leaves it to another thread
// and shows the agenda when it is ready, in order of start.
TEST_F(VdirStoreTest, TheAgendaIsExpandedOffTheGuiThread) {
    Settings::shared().registerLaunchDefaults();
    FakeWorkspace workspace;
    EventService service(&store, &clock, &Settings::shared(), &workspace);
    QSignalSpy shown(&service, &EventService::eventsChanged);
    service.refresh();
    EXPECT_EQ(shown.count(), 0);
    ASSERT_TRUE(test::waitUntil([&] { return shown.count() == 1; }));
    QStringList today;
    for (const CalendarEvent& e : service.todayEvents()) today << e.title.left(20) + " " + local(e.start);
    EXPECT_TRUE(today.contains("Zápis do první třídy Mon 22.3 10:30")) << today.join(", ").toStdString();
    EXPECT_TRUE(std::is_sorted(service.todayEvents().begin(), service.todayEvents().end(),
                               [](auto& a, auto& b) { return a.start < b.start; }));
}

} // namespace

// An RDATE given as a period lasts as long as its period, not as long as the master.
TEST(IcsRecurrence, RdatePeriodsBringTheirOwnEnds) {
    const QByteArray data = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\nUID:p\r\nSUMMARY:Kurz\r\n"
                            "DTSTART:20270322T090000Z\r\nDTEND:20270322T100000Z\r\n"
                            "RDATE;VALUE=PERIOD:20270323T100000Z/20270323T130000Z,20270324T080000Z/PT30M\r\n"
                            "RDATE:20270325T090000Z\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
    ics::ZoneCache zones;
    const auto parsed = ics::parse(data, zones);
    ASSERT_TRUE(parsed && parsed->series.size() == 1);
    const QDateTime from(QDate(2027, 3, 22), QTime(0, 0), QTimeZone::utc());
    auto events = ics::occurrences(parsed->series[0], "c", from, from.addDays(7));
    std::sort(events.begin(), events.end(), [](const auto& a, const auto& b) { return a.start < b.start; });
    ASSERT_EQ(events.size(), 4);
    const qint64 lengths[] = {3600, 3 * 3600, 1800, 3600};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(events[i].start.secsTo(events[i].end), lengths[i]) << i;
}

// RRULE, RDATE and DTSTART may name the same instant in different forms (a zone, UTC, a
// period): the instant is shown once.
TEST(IcsRecurrence, AnInstantNamedTwiceIsShownOnce) {
    test::ZoneScope zone{"Europe/Prague"};
    const struct {
        const char* name;
        const char* lines;
        int expected;
    } rows[] = {
        {"RDATE repeats a rule instance", "DTSTART:20270322T090000Z\r\nRRULE:FREQ=DAILY;COUNT=3\r\nRDATE:20270323T090000Z\r\n", 3},
        {"RDATE in UTC repeats a zoned DTSTART",
         "DTSTART;TZID=Europe/Prague:20270322T100000\r\nRRULE:FREQ=DAILY;COUNT=3\r\nRDATE:20270322T090000Z\r\n", 3},
        {"RDATE in a zone repeats a UTC rule instance",
         "DTSTART:20270322T090000Z\r\nRRULE:FREQ=DAILY;COUNT=3\r\nRDATE;TZID=Europe/Prague:20270324T100000\r\n", 3},
        {"two RDATEs of one instant", "DTSTART:20270322T090000Z\r\nRDATE:20270325T090000Z\r\n"
                                      "RDATE;TZID=Europe/Prague:20270325T100000\r\n", 2},
        {"RDATE period repeats DTSTART", "DTSTART:20270322T090000Z\r\nRDATE;VALUE=PERIOD:20270322T090000Z/PT2H\r\n", 1},
        {"RDATE repeats a floating DTSTART", "DTSTART:20270322T100000\r\nRDATE:20270322T090000Z\r\n", 1},
        {"distinct instants stay", "DTSTART:20270322T090000Z\r\nRRULE:FREQ=DAILY;COUNT=2\r\nRDATE:20270322T100000Z\r\n", 3},
    };
    for (const auto& row : rows) {
        const QByteArray data = QByteArray("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\nUID:d\r\nSUMMARY:x\r\n") +
                                row.lines + "DURATION:PT1H\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
        ics::ZoneCache zones;
        const auto parsed = ics::parse(data, zones);
        ASSERT_TRUE(parsed && parsed->series.size() == 1) << row.name;
        ics::forgetLocalOffsets();
        const QDateTime from(QDate(2027, 3, 21), QTime(0, 0), QTimeZone::utc());
        EXPECT_EQ(ics::occurrences(parsed->series[0], "c", from, from.addDays(7)).size(), row.expected) << row.name;
    }
}

// Rules built to keep a scan stepping for minutes: each scan spends a bounded number of rule
// steps, skips the series past it, and publishes every calendar it has finished without waiting
// for the rest.
TEST(VdirStoreHostile, ScanStepsAreBoundedAndFinishedCalendarsAppearFirst) {
    test::TempHome home;
    test::ZoneScope zone{"Europe/Prague"};
    const QString root = home.file("cals");
    auto item = [](const QByteArray& uid, const QByteArray& lines) {
        return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\nUID:" + uid + "\r\nSUMMARY:" + uid + "\r\n" + lines +
               "END:VEVENT\r\nEND:VCALENDAR\r\n";
    };
    writeFile(root + "/a-hostile/minutely.ics",
              item("minutely", "DTSTART:19000101T000000Z\r\nRRULE:FREQ=MINUTELY;COUNT=999999999\r\n"));
    const int hostile = 80;
    for (int i = 0; i < hostile; ++i)
        writeFile(root + QStringLiteral("/a-hostile/h%1.ics").arg(i),
                  item("h" + QByteArray::number(i), "DTSTART:19000101T000000Z\r\n"
                                                    "RRULE:FREQ=MONTHLY;BYMONTHDAY=1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21,22,23,24,25,26,27,28;COUNT=999999999\r\n"));
    writeFile(root + "/b-work/standup.ics", item("standup", "DTSTART:20270301T080000Z\r\nDURATION:PT15M\r\nRRULE:FREQ=DAILY\r\n"));
    writeFile(root + "/b-work/review.ics", item("review", "DTSTART:20270322T130000Z\r\nDURATION:PT1H\r\n"));

    VdirCalendarStore store(root);
    QList<QStringList> published;
    QObject::connect(&store, &CalendarStore::changed, [&] {
        QStringList ids;
        for (const CalendarInfo& c : store.calendars(Entity::event)) ids << c.id;
        published << ids;
    });
    store.lookForChanges();
    ASSERT_TRUE(test::waitUntil([&] { return !store.isScanning(); }, 60000));
    ASSERT_FALSE(published.isEmpty());
    EXPECT_EQ(published.first(), QStringList{"a-hostile"});
    EXPECT_EQ(published.last(), (QStringList{"a-hostile", "b-work"}));
    EXPECT_LE(store.ruleStepsOfLastScan(), VdirCalendarStore::maxScanRuleSteps);
    EXPECT_GT(store.skippedSeriesOfLastScan(), 0);
    QStringList titles;
    for (const CalendarEvent& e : store.events(prague(2027, 3, 22), prague(2027, 3, 23))) titles << e.title;
    titles.sort();
    EXPECT_EQ(titles, (QStringList{"review", "standup"}));
}

// Expanding shares the rules' and zones' caches of the files read: fetches that overlap, and
// the task list asked meanwhile, must each get what one fetch alone gets.
TEST_F(VdirStoreTest, OverlappingFetchesGetWhatOneAloneGets) {
    for (int i = 0; i < 150; ++i) {
        const QString start = QString("20260101T%1%2").arg(8 + i % 10, 2, 10, QChar('0')).arg(i % 6 * 10, 2, 10, QChar('0'));
        writeFile(root + QString("/prace/daily-%1.ics").arg(i),
                  QString("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\nUID:daily-%1\r\nSUMMARY:Daily %1\r\n"
                          "DTSTART;TZID=Europe/Prague:%200\r\nDURATION:PT30M\r\nRRULE:FREQ=DAILY\r\n"
                          "END:VEVENT\r\nEND:VCALENDAR\r\n").arg(i).arg(start).toUtf8());
    }
    store.scanNow();
    constexpr int fetches = 24;
    QList<QList<CalendarEvent>> got(fetches);
    int answered = 0;
    auto window = [](int n) { return std::pair{prague(2027, 1 + n % 12, 1), prague(2027, 1 + n % 12, 1).addDays(20 + n)}; };
    for (int n = 0; n < fetches; ++n) {
        const auto [from, to] = window(n);
        store.fetchEvents(from, to, &store, [&, n](QList<CalendarEvent> list) {
            got[n] = std::move(list);
            ++answered;
        });
        if (n % 4 == 0) tasks(prague(2030, 1, 1));
    }
    ASSERT_TRUE(test::waitUntil([&] { return answered == fetches; }, 60000));
    for (int n = 0; n < fetches; ++n) {
        const auto [from, to] = window(n);
        QList<CalendarEvent> alone = store.events(from, to);
        std::stable_sort(alone.begin(), alone.end(), [](auto& a, auto& b) { return a.start < b.start; });
        ASSERT_EQ(got[n].size(), alone.size()) << n;
        for (int i = 0; i < alone.size(); ++i)
            ASSERT_TRUE(got[n][i].uid == alone[i].uid && got[n][i].start == alone[i].start) << n << " " << i;
    }
}
