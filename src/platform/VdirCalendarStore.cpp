#include "platform/VdirCalendarStore.h"
#include "core/Async.h"
#include "core/Clock.h"
#include "core/Log.h"
#include "core/FileIO.h"
#include "platform/FolderWatch.h"
#include "core/Paths.h"

#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QRegularExpression>
#include <QSet>
#include <QTimeZone>
#include <QUuid>
#include <algorithm>
#include <cstdlib>
#include <limits>
#include <libical/ical.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lomex {

namespace {

QString readSmallText(const QString& path) {
    auto data = fileio::readRegularFile(path, 4096);
    return data ? QString::fromUtf8(*data).trimmed() : QString();
}

bool holdsEvents(const VdirCalendarStore::Folder& f) { return f.hasEvents; }
bool isEmpty(const VdirCalendarStore::Folder& f) { return !f.hasEvents && !f.hasTasks; }

bool servesEntity(const VdirCalendarStore::Folder& f, CalendarStore::Entity entity) {
    if (isEmpty(f)) return true;
    return entity == CalendarStore::Entity::event ? f.hasEvents : f.hasTasks;
}

// Who already failed to read, so a broken file is logged once, not at every scan.
QSet<QString>& loggedFailures() {
    static QSet<QString> paths;
    return paths;
}

void logOnce(const QString& key, const QString& message) {
    static QMutex mutex;
    QMutexLocker lock(&mutex);
    if (loggedFailures().contains(key)) return;
    loggedFailures().insert(key);
    logWarning(message);
}

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

QString newUid() { return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper(); }

// ---- editing a task in place: the file's own lines, unfolded only to read them ----

struct Line {
    int first = 0, last = 0; // physical line range
    QByteArray unfolded;
    QByteArray name() const {
        int end = 0;
        while (end < unfolded.size() && unfolded[end] != ':' && unfolded[end] != ';') ++end;
        return unfolded.left(end).trimmed().toUpper();
    }
    QByteArray value() const {
        // The value follows the first colon outside a quoted parameter.
        bool quoted = false;
        for (int i = 0; i < unfolded.size(); ++i) {
            if (unfolded[i] == '"') quoted = !quoted;
            else if (unfolded[i] == ':' && !quoted) return unfolded.mid(i + 1);
        }
        return {};
    }
};

QList<QByteArray> physicalLines(const QByteArray& data) {
    QList<QByteArray> lines = data.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    for (QByteArray& l : lines)
        if (l.endsWith('\r')) l.chop(1);
    return lines;
}

QList<Line> logicalLines(const QList<QByteArray>& physical) {
    QList<Line> out;
    for (int i = 0; i < physical.size(); ++i) {
        const QByteArray& p = physical[i];
        if ((p.startsWith(' ') || p.startsWith('\t')) && !out.isEmpty()) {
            out.last().unfolded += p.mid(1);
            out.last().last = i;
        } else {
            out.append(Line{i, i, p});
        }
    }
    return out;
}

QByteArray formatWall(const ics::Time& t) {
    if (t.isDate()) return t.date.toString(QStringLiteral("yyyyMMdd")).toLatin1();
    QDate d = t.date;
    QTime tm = t.time;
    if (t.kind == ics::Time::Kind::utc) {
        const QDateTime u = QDateTime::fromSecsSinceEpoch(t.utcSeconds, QTimeZone::utc());
        d = u.date();
        tm = u.time();
    }
    QByteArray out = (d.toString(QStringLiteral("yyyyMMdd")) + u'T' + tm.toString(QStringLiteral("HHmmss"))).toLatin1();
    if (t.kind == ics::Time::Kind::utc) out += 'Z';
    return out;
}

// The value of a DATE or DATE-TIME line moved by a number of wall seconds.
std::optional<QByteArray> shiftedValue(const QByteArray& value, qint64 seconds) {
    const QByteArray v = value.trimmed();
    const bool utc = v.endsWith('Z');
    const QByteArray core = utc ? v.chopped(1) : v;
    QDate d = QDate::fromString(QString::fromLatin1(core.left(8)), QStringLiteral("yyyyMMdd"));
    if (!d.isValid()) return std::nullopt;
    if (core.size() == 8) return d.addDays(seconds / 86400).toString(QStringLiteral("yyyyMMdd")).toLatin1();
    QTime t = QTime::fromString(QString::fromLatin1(core.mid(9, 6)), QStringLiteral("HHmmss"));
    if (!t.isValid()) return std::nullopt;
    QDateTime w(d, t, QTimeZone::utc());
    w = w.addSecs(seconds);
    QByteArray out = w.toString(QStringLiteral("yyyyMMdd'T'HHmmss")).toLatin1();
    if (utc) out += 'Z';
    return out;
}

QByteArray replaceValue(const Line& line, const QByteArray& value) {
    const QByteArray old = line.value();
    return line.unfolded.left(line.unfolded.size() - old.size()) + value;
}

// Logical line indexes of a VTODO's BEGIN and END.
struct TodoSpan {
    int begin = -1, end = -1;
};

// The task's own VTODO (not an overridden instance), directly inside VCALENDAR.
std::optional<TodoSpan> ownTodo(const QList<Line>& lines, const QString& uid) {
    int begin = -1, end = -1, depth = 0, candidate = -1;
    bool matches = false, instance = false;
    for (int i = 0; i < lines.size() && end < 0; ++i) {
        const QByteArray name = lines[i].name();
        const QByteArray value = lines[i].value().trimmed().toUpper();
        if (name == "BEGIN") {
            ++depth;
            if (depth == 2 && value == "VTODO") {
                candidate = i;
                matches = instance = false;
            }
        } else if (name == "END") {
            if (depth == 2 && candidate >= 0 && value == "VTODO") {
                if (matches && !instance) {
                    begin = candidate;
                    end = i;
                }
                candidate = -1;
            }
            --depth;
        } else if (depth == 2 && candidate >= 0) {
            if (name == "UID") matches = QString::fromUtf8(lines[i].value()).trimmed() == uid;
            if (name == "RECURRENCE-ID") instance = true;
        }
    }
    if (begin < 0) return std::nullopt;
    return TodoSpan{begin, end};
}

// Where completing moves a task: nowhere (no next), or on to the next due of its rule.
struct TaskAdvance {
    std::optional<ics::Time> next;
    std::optional<ics::Time> due; // the due being left behind
    int left = -1;                // the rule's COUNT, or -1 without one
    qsizetype countAt = -1, countLength = 0;
};

// A recurring task moves on to its next occurrence; only its last one is completed. The
// series is moved along with it, so a COUNT counts what is left.
TaskAdvance advanceOf(const QList<Line>& lines, const TodoSpan& span, const QList<ics::TaskPart>& tasks,
                      const QString& uid) {
    const ics::TaskPart* part = nullptr;
    for (const ics::TaskPart& t : tasks)
        if (t.uid == uid) part = &t;

    QByteArray rule;
    for (int i = span.begin; i < span.end; ++i)
        if (lines[i].name() == "RRULE") rule = lines[i].value();
    static const QRegularExpression countPart(QStringLiteral("(^|;)COUNT=(\\d+)"), QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch count = countPart.match(QString::fromLatin1(rule));

    TaskAdvance a;
    a.left = count.hasMatch() ? count.captured(2).toInt() : -1;
    a.countAt = count.capturedStart(2);
    a.countLength = count.capturedLength(2);
    if (part) a.due = part->due;
    if (part && part->due && !rule.isEmpty() && a.left != 0 && a.left != 1) a.next = ics::nextDue(rule, *part->due);
    return a;
}

// Lines of the task's own VTODO that completing drops; they are written anew.
bool dropsOwnLine(const QByteArray& name, const TaskAdvance& a) {
    if (name == "LAST-MODIFIED") return true;
    return !a.next && (name == "STATUS" || name == "COMPLETED" || name == "PERCENT-COMPLETE");
}

// The new text of one of the task's own lines when it moves on, or nothing to keep it as it is.
std::optional<QByteArray> movedOwnLine(const Line& l, const QByteArray& name, const TaskAdvance& a) {
    if (!a.next) return std::nullopt;
    if (name == "DUE") return replaceValue(l, formatWall(*a.next));
    if (name == "RRULE" && a.left > 1) {
        QString r = QString::fromLatin1(l.value());
        r.replace(a.countAt, a.countLength, QString::number(a.left - 1));
        return replaceValue(l, r.toLatin1());
    }
    if (name == "DTSTART") {
        const qint64 delta = ics::wallSeconds(a.next->date, a.next->time) - ics::wallSeconds(a.due->date, a.due->time);
        if (auto shifted = shiftedValue(l.value(), delta)) return replaceValue(l, *shifted);
    }
    return std::nullopt;
}

// The file's physical lines with the task completed or moved on; everything else as it was.
QList<QByteArray> completedLines(const QList<QByteArray>& physical, const QList<Line>& lines, const TodoSpan& span,
                                 const TaskAdvance& a, const QByteArray& stamp) {
    QList<QByteArray> out;
    auto copy = [&](const Line& l) {
        for (int p = l.first; p <= l.last; ++p) out << physical[p];
    };
    int nested = 0;
    for (int i = 0; i < lines.size(); ++i) {
        const Line& l = lines[i];
        if (i <= span.begin || i > span.end) {
            copy(l);
            continue;
        }
        const QByteArray name = l.name();
        if (name == "BEGIN") ++nested;
        if (i == span.end) {
            if (!a.next) out << "STATUS:COMPLETED" << "COMPLETED:" + stamp << "PERCENT-COMPLETE:100";
            out << "LAST-MODIFIED:" + stamp;
            copy(l);
            continue;
        }
        const bool own = nested == 0;
        if (name == "END") --nested;
        if (own && dropsOwnLine(name, a)) continue;
        if (own) {
            if (auto moved = movedOwnLine(l, name, a)) {
                out << *moved;
                continue;
            }
        }
        copy(l);
    }
    return out;
}

} // namespace

VdirCalendarStore::VdirCalendarStore(QString root, Clock* clock, QObject* parent)
    : CalendarStore(parent), root_(std::move(root)), clock_(clock ? clock : Clock::current()),
      snapshot_(std::make_shared<Snapshot>()) {
    watch_ = new FolderWatch(clock_, this);
    connect(watch_, &FolderWatch::changed, this, &VdirCalendarStore::lookForChanges);
}

VdirCalendarStore::~VdirCalendarStore() = default;

QString VdirCalendarStore::defaultRoot() {
    return paths::folderFromEnv("LOMEX_CALENDAR_DIR", paths::dataHome() + QStringLiteral("/Lomex/calendars"));
}

bool VdirCalendarStore::hasAccess(Entity) const { return paths::isReadableDir(root_); }

void VdirCalendarStore::requestAccess(const QString& calendarTitle, const QString& listTitle) {
    if (QFileInfo::exists(root_)) return;
    if (!paths::ensureDir(root_)) {
        logWarning("cannot create the calendar folder " + root_);
        return;
    }
    const QList<std::pair<QString, QString>> made = {{QStringLiteral("calendar"), calendarTitle},
                                                      {QStringLiteral("reminders"), listTitle}};
    for (const auto& [name, title] : made) {
        const QString dir = root_ + u'/' + name;
        paths::ensureDir(dir);
        if (auto err = fileio::writeAtomically(dir + QStringLiteral("/displayname"), title.toUtf8(), {0644}))
            logWarning(*err);
    }
    log("made the calendar folder " + root_);
    scanNow();
}

// ---- reading ----

namespace {

// What one scan carries from file to file.
struct ScanWork {
    ics::StepBudget budget{VdirCalendarStore::maxScanRuleSteps, VdirCalendarStore::cheapRuleStepsReserve,
                           VdirCalendarStore::cheapSeriesSteps};
    // New series are expanded over the coming days here, off the GUI thread, so the agenda's
    // first refresh after a change finds them ready.
    QDateTime warmFrom, warmTo;
    int parsed = 0;
    int skipped = 0;
    QString firstSkipped;

    ScanWork() {
        const QDateTime now = QDateTime::currentDateTimeUtc();
        warmFrom = now.addDays(-2);
        warmTo = now.addDays(9);
    }
    void logSkipped() const {
        if (skipped == 0) return;
        logWarning(QStringLiteral("%1 recurring calendar items not shown: reading them would take more than %2 rule "
                                  "steps (the first: %3)")
                       .arg(skipped).arg(VdirCalendarStore::maxScanRuleSteps).arg(firstSkipped));
    }
};

// One file as the snapshot keeps it: taken from old when its size and time match, else read.
// nullopt when it is not a regular file.
std::optional<VdirCalendarStore::Item> readItem(const QString& path, const VdirCalendarStore::Item* old,
                                                ics::ZoneCache& zones, ScanWork& work) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    VdirCalendarStore::Item item{path, qint64(st.st_size), qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec, nullptr};
    if (old && old->size == item.size && old->mtimeNs == item.mtimeNs) {
        item.parsed = old->parsed;
        return item;
    }
    if (item.size > VdirCalendarStore::maxFileBytes) {
        logOnce(path + QString::number(item.mtimeNs), "calendar item too large, skipped: " + path);
        return item;
    }
    ++work.parsed;
    QString error;
    auto data = fileio::readRegularFile(path, VdirCalendarStore::maxFileBytes, &error);
    std::optional<ics::ParsedFile> parsed = data ? ics::parse(*data, zones, &error) : std::nullopt;
    if (!parsed) {
        logOnce(path + QString::number(item.mtimeNs), "calendar item skipped: " + path + ": " + error);
        return item;
    }
    for (ics::Series& series : parsed->series) {
        if (!series.rule) continue;
        work.budget.cut = false;
        (void)ics::occurrences(series, {}, work.warmFrom, work.warmTo, &work.budget);
        if (!work.budget.cut) continue;
        series.skipped = true;
        if (work.skipped++ == 0) work.firstSkipped = path;
    }
    item.parsed = std::make_shared<const ics::ParsedFile>(std::move(*parsed));
    return item;
}

void addKinds(VdirCalendarStore::Folder& folder, const VdirCalendarStore::Item& item) {
    if (!item.parsed) return;
    folder.hasEvents = folder.hasEvents || !item.parsed->series.isEmpty();
    folder.hasTasks = folder.hasTasks || !item.parsed->tasks.isEmpty();
}

} // namespace

std::shared_ptr<const VdirCalendarStore::Snapshot> VdirCalendarStore::scan(const QString& root,
                                                                          std::shared_ptr<const Snapshot> previous,
                                                                          const Publish& publish) {
    auto next = std::make_shared<Snapshot>();
    QHash<QString, const Item*> known;
    QHash<QString, const Folder*> knownFolders;
    if (previous)
        for (const Folder& f : previous->folders) {
            knownFolders.insert(f.info.id, &f);
            for (const Item& i : f.items) known.insert(i.path, &i);
        }

    ics::forgetLocalOffsets();
    ScanWork work;
    int items = 0;
    const QFileInfoList dirs = QDir(root).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (int d = 0; d < dirs.size(); ++d) {
        const QFileInfo& dir = dirs[d];
        Folder folder;
        folder.path = dir.absoluteFilePath();
        folder.info.id = dir.fileName();
        const QString name = readSmallText(folder.path + QStringLiteral("/displayname"));
        folder.info.title = name.isEmpty() ? dir.fileName() : name;
        folder.info.color = readSmallText(folder.path + QStringLiteral("/color"));
        folder.info.writable = ::access(QFile::encodeName(folder.path).constData(), W_OK) == 0;
        // One zone cache per calendar: once published, a calendar's zones belong to the GUI thread.
        ics::ZoneCache zones;
        const QFileInfoList files = QDir(folder.path).entryInfoList({QStringLiteral("*.ics")}, QDir::Files, QDir::Name);
        for (const QFileInfo& f : files) {
            if (++items > maxItems) {
                logOnce(root + "#limit", QStringLiteral("more than %1 calendar items in %2; the rest are not read").arg(maxItems).arg(root));
                break;
            }
            const QString path = f.absoluteFilePath();
            std::optional<Item> item = readItem(path, known.value(path), zones, work);
            if (!item) continue;
            addKinds(folder, *item);
            folder.items.append(std::move(*item));
        }
        next->folders.append(std::move(folder));
        if (publish && d + 1 < dirs.size()) {
            // The calendars still to come stay as they were until the scan reaches them.
            auto partial = std::make_shared<Snapshot>(*next);
            partial->parsed = 0;
            for (int rest = d + 1; rest < dirs.size(); ++rest)
                if (const Folder* old = knownFolders.value(dirs[rest].fileName())) partial->folders.append(*old);
            publish(std::move(partial));
        }
    }
    next->parsed = work.parsed;
    next->ruleSteps = work.budget.spent;
    next->skippedSeries = work.skipped;
    work.logSkipped();
    return next;
}

static bool sameFiles(const VdirCalendarStore::Snapshot& a, const VdirCalendarStore::Snapshot& b) {
    if (a.folders.size() != b.folders.size()) return false;
    for (int i = 0; i < a.folders.size(); ++i) {
        const auto& fa = a.folders[i];
        const auto& fb = b.folders[i];
        if (!(fa.info == fb.info) || fa.items.size() != fb.items.size()) return false;
        for (int j = 0; j < fa.items.size(); ++j)
            if (fa.items[j].path != fb.items[j].path || fa.items[j].parsed != fb.items[j].parsed) return false;
    }
    return true;
}

void VdirCalendarStore::take(std::shared_ptr<const Snapshot> next) {
    const bool same = sameFiles(*snapshot_, *next);
    parsedTotal_ += next->parsed;
    snapshot_ = std::move(next);
    watchFolders();
    if (!same) emit changed();
}

void VdirCalendarStore::watchFolders() {
    QStringList dirs{root_};
    for (const Folder& f : snapshot_->folders) dirs << f.path;
    watch_->watch(dirs);
}

void VdirCalendarStore::scanNow() { take(scan(root_, snapshot_)); }

int VdirCalendarStore::parsedFiles() const { return parsedTotal_; }

void VdirCalendarStore::lookForChanges() {
    if (scanning_) {
        scanAgain_ = true;
        return;
    }
    scanning_ = true;
    const quint64 writesAtStart = writes_;
    QPointer<VdirCalendarStore> self(this);
    auto previous = snapshot_;
    const QString root = root_;
    runThen(this, [self, root, previous, writesAtStart] {
        // A calendar appears as soon as it is read, not when the last one is.
        auto publish = [self, writesAtStart](std::shared_ptr<const Snapshot> partial) {
            postToGui([self, partial, writesAtStart] {
                if (self && self->writes_ == writesAtStart) self->take(partial);
            });
        };
        return scan(root, previous, publish);
    }, [this, writesAtStart](std::shared_ptr<const Snapshot> next) {
        scanning_ = false;
        // A write of ours after the scan listed the folders: the scan may miss it; look again.
        if (writes_ == writesAtStart) take(next);
        else scanAgain_ = true;
        if (scanAgain_) {
            scanAgain_ = false;
            lookForChanges();
        }
    });
}

const VdirCalendarStore::Folder* VdirCalendarStore::folder(const QString& id) const {
    for (const Folder& f : snapshot_->folders)
        if (f.info.id == id) return &f;
    return nullptr;
}

QList<CalendarInfo> VdirCalendarStore::calendars(Entity entity) const {
    QList<CalendarInfo> out;
    for (const Folder& f : snapshot_->folders)
        if (servesEntity(f, entity)) out.append(f.info);
    return out;
}

std::optional<CalendarInfo> VdirCalendarStore::defaultCalendar(Entity entity) const {
    // Events: the first calendar with events, else the first empty folder. Reminders: the first
    // list of tasks alone, else an empty folder that is not the events' default, else any.
    const auto& folders = snapshot_->folders;
    auto first = [&](auto pred) -> const Folder* {
        for (const Folder& f : folders)
            if (f.info.writable && pred(f)) return &f;
        return nullptr;
    };
    const Folder* eventDefault = first(holdsEvents);
    if (!eventDefault) eventDefault = first(isEmpty);
    const Folder* pick = eventDefault;
    if (entity == Entity::reminder) {
        pick = first([](const Folder& f) { return f.hasTasks && !f.hasEvents; });
        if (!pick) pick = first([&](const Folder& f) { return isEmpty(f) && &f != eventDefault; });
        if (!pick) pick = first([](const Folder& f) { return f.hasTasks || isEmpty(f); });
    }
    if (!pick) return std::nullopt;
    return pick->info;
}

QList<CalendarEvent> VdirCalendarStore::expand(const Snapshot& snapshot, const QDateTime& from, const QDateTime& to) {
    ics::forgetLocalOffsets();
    QList<CalendarEvent> out;
    for (const Folder& f : snapshot.folders)
        for (const Item& i : f.items) {
            if (!i.parsed) continue;
            for (const ics::Series& s : i.parsed->series) out += ics::occurrences(s, f.info.id, from, to);
        }
    return out;
}

QList<CalendarEvent> VdirCalendarStore::events(const QDateTime& from, const QDateTime& to) const {
    return expand(*snapshot_, from, to);
}

void VdirCalendarStore::fetchEvents(const QDateTime& from, const QDateTime& to, QObject* context,
                                    std::function<void(QList<CalendarEvent>)> done) {
    // Linear in the whole folder, every series expanded: too slow for the GUI thread with
    // thousands of events. The snapshot is immutable, so the pool may read it as it is now.
    runThen(context, [snapshot = snapshot_, from, to] {
        QList<CalendarEvent> list = expand(*snapshot, from, to);
        // Plain UTC times compare without asking a zone: the GUI thread sorts thousands of them.
        for (CalendarEvent& e : list) {
            e.start = e.start.toUTC();
            e.end = e.end.toUTC();
        }
        sortByStart(list);
        return list;
    }, std::move(done));
}

void VdirCalendarStore::fetchIncompleteTasks(const QDateTime& dueBefore, QObject* context,
                                             std::function<void(QList<CalendarTask>)> done) {
    ics::forgetLocalOffsets();
    QList<CalendarTask> tasks;
    const qint64 bound = dueBefore.toSecsSinceEpoch();
    for (const Folder& f : snapshot_->folders)
        for (const Item& i : f.items) {
            if (!i.parsed) continue;
            for (const ics::TaskPart& t : i.parsed->tasks) {
                if (t.completed) continue;
                if (t.due && t.due->seconds() >= bound) continue;
                CalendarTask task{t.uid, f.info.id, t.title, {}, {}, t.priority, t.recurring, i.path};
                if (t.due && t.due->isDate()) task.dueDay = t.due->date;
                else if (t.due) task.dueTime = t.due->instant();
                tasks.append(std::move(task));
            }
        }
    QPointer<QObject> guard(context);
    postToGui([guard, done = std::move(done), tasks] {
        if (guard) done(tasks);
    });
}

// ---- writing ----

std::optional<LomexError> VdirCalendarStore::writeNew(const QString& calendarId, const QString& uid,
                                                      const QByteArray& ics) {
    const Folder* f = folder(calendarId);
    if (!f) return LomexError{QStringLiteral("Lomex.Calendar"), 1, "no calendar \"" + calendarId + "\""};
    const QString path = f->path + u'/' + uid + QStringLiteral(".ics");
    if (QFileInfo::exists(path)) return LomexError{QStringLiteral("Lomex.Calendar"), 2, path + ": already exists"};
    if (auto err = fileio::writeAtomically(path, ics, {0644}))
        return LomexError{QStringLiteral("POSIX"), 0, *err};
    reread(path);
    return std::nullopt;
}

void VdirCalendarStore::reread(const QString& path) {
    ++writes_;
    // Only the file written is read again, here; what other programs changed meanwhile waits
    // for the background scan.
    auto next = std::make_shared<Snapshot>(*snapshot_);
    const QString dir = QFileInfo(path).absolutePath();
    ics::ZoneCache zones;
    ScanWork work;
    ics::forgetLocalOffsets();
    for (Folder& f : next->folders) {
        if (f.path != dir) continue;
        std::optional<Item> item = readItem(path, nullptr, zones, work);
        auto at = std::find_if(f.items.begin(), f.items.end(), [&](const Item& i) { return i.path >= path; });
        if (at != f.items.end() && at->path == path) {
            if (item) *at = std::move(*item);
            else f.items.erase(at);
        } else if (item) {
            f.items.insert(at, std::move(*item));
        }
        f.hasEvents = f.hasTasks = false;
        for (const Item& i : f.items) addKinds(f, i);
        break;
    }
    next->parsed = work.parsed;
    work.logSkipped();
    take(next);
}

std::optional<LomexError> VdirCalendarStore::saveEvent(const NewEvent& e) {
    const QString uid = newUid();
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
    return writeNew(e.calendarId, uid, serialize(cal));
}

std::optional<LomexError> VdirCalendarStore::saveTask(const NewTask& t) {
    const QString uid = newUid();
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
    return writeNew(t.calendarId, uid, serialize(cal));
}

std::optional<LomexError> VdirCalendarStore::completeTask(const CalendarTask& task, const QDateTime& now) {
    auto fail = [&](const QString& why) {
        return std::optional<LomexError>(LomexError{QStringLiteral("Lomex.Calendar"), 3, task.itemPath + ": " + why});
    };
    // Read the file as it is now: another program may have changed it since our scan.
    QString error;
    auto data = fileio::readRegularFile(task.itemPath, maxFileBytes, &error);
    if (!data) return fail(error.isEmpty() ? QStringLiteral("cannot be read") : error);
    ics::ZoneCache zones;
    auto parsed = ics::parse(*data, zones, &error);
    if (!parsed) return fail(error);

    const QList<QByteArray> physical = physicalLines(*data);
    const QList<Line> lines = logicalLines(physical);
    const std::optional<TodoSpan> span = ownTodo(lines, task.uid);
    if (!span) return fail(QStringLiteral("the task is no longer there"));
    const TaskAdvance advance = advanceOf(lines, *span, parsed->tasks, task.uid);

    const QByteArray eol = data->contains("\r\n") ? QByteArrayLiteral("\r\n") : QByteArrayLiteral("\n");
    const QByteArray stamp = QDateTime::fromSecsSinceEpoch(now.toSecsSinceEpoch(), QTimeZone::utc())
                                 .toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'")).toLatin1();
    const QByteArray written = completedLines(physical, lines, *span, advance, stamp).join(eol) + eol;
    if (auto err = fileio::writeAtomically(task.itemPath, written)) return LomexError{QStringLiteral("POSIX"), 0, *err};
    reread(task.itemPath);
    return std::nullopt;
}

// The vdir store is the calendar layer unless a test installed another.
namespace {
CalendarStore* g_installedStore = nullptr;
}

CalendarStore* CalendarStore::current() {
    if (g_installedStore) return g_installedStore;
    static VdirCalendarStore* vdir = new VdirCalendarStore(VdirCalendarStore::defaultRoot(), nullptr,
                                                           QCoreApplication::instance());
    return vdir;
}

void CalendarStore::setCurrent(CalendarStore* store) { g_installedStore = store; }

} // namespace lomex
