#include "platform/VdirCalendarStore.h"
#include "core/Async.h"
#include "core/Clock.h"
#include "core/Log.h"
#include "core/FileIO.h"
#include "core/Paths.h"
#include "platform/FolderWatch.h"
#include "platform/IcsNewItems.h"
#include "platform/IcsRecurrence.h"
#include "platform/IcsTaskCompletion.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMutex>
#include <QtConcurrent/QtConcurrentRun>
#include <QSet>
#include <QUuid>
#include <algorithm>
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

QString newUid() { return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper(); }

} // namespace

VdirCalendarStore::VdirCalendarStore(QString root, Clock* clock, QObject* parent)
    : CalendarStore(parent), root_(std::move(root)), clock_(clock ? clock : Clock::current()),
      snapshot_(std::make_shared<Snapshot>()) {
    reader_.setMaxThreadCount(1);
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
    SkippedSeries skipped;
    int newlySkipped = 0;

    ScanWork() {
        const QDateTime now = QDateTime::currentDateTimeUtc();
        warmFrom = now.addDays(-2);
        warmTo = now.addDays(9);
    }
    void count(const QString& path, const ics::ParsedFile& parsed) {
        for (const ics::Series& s : parsed.series)
            if (s.skipped && skipped.count++ == 0) skipped.firstFile = path;
    }
    void logSkipped() const {
        if (newlySkipped == 0) return;
        logWarning(QStringLiteral("%1 recurring calendar items not shown: their rules take more than %2 steps each, or "
                                  "more than %3 in all (the first: %4)")
                       .arg(newlySkipped).arg(ics::maxRuleSteps).arg(VdirCalendarStore::maxScanRuleSteps)
                       .arg(skipped.firstFile));
    }
};

// One file as the snapshot keeps it: taken from old when its size and time match, else read.
// nullopt when it is not a regular file.
std::optional<VdirCalendarStore::Item> readItem(const QString& path, const VdirCalendarStore::Item* old,
                                                ics::ZoneCache& zones, ScanWork& work) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    VdirCalendarStore::Item item{path, qint64(st.st_size), qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
                                 quint64(st.st_ino), quint64(st.st_dev), nullptr};
    // An unchanged file keeps what it was read and expanded into: its rules are not stepped again.
    if (old && old->size == item.size && old->mtimeNs == item.mtimeNs && old->inode == item.inode &&
        old->device == item.device) {
        item.parsed = old->parsed;
        if (item.parsed) work.count(path, *item.parsed);
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
        ++work.newlySkipped;
    }
    work.count(path, *parsed);
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
    QElapsedTimer sincePublish;
    sincePublish.start();
    const QFileInfoList dirs = QDir(root).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    next->folders.reserve(dirs.size());
    for (int d = 0; d < dirs.size(); ++d) {
        const QFileInfo& dir = dirs[d];
        Folder folder;
        folder.path = dir.absoluteFilePath();
        folder.info.id = dir.fileName();
        const QString name = readSmallText(folder.path + QStringLiteral("/displayname"));
        folder.info.title = name.isEmpty() ? dir.fileName() : name;
        folder.info.color = readSmallText(folder.path + QStringLiteral("/color"));
        folder.info.writable = ::access(QFile::encodeName(folder.path).constData(), W_OK) == 0;
        // One zone cache per calendar: once published, a calendar's zones belong to the store's reader.
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
        // What is read so far, at a bounded rate: a copy per folder would make many folders cost
        // their square, and the GUI thread could not keep up with them.
        if (publish && d + 1 < dirs.size() && sincePublish.elapsed() >= publishMs) {
            sincePublish.restart();
            // The calendars still to come stay as they were until the scan reaches them.
            auto partial = std::make_shared<Snapshot>(*next);
            partial->parsed = 0;
            partial->skipped = previous ? previous->skipped : SkippedSeries{};
            for (int rest = d + 1; rest < dirs.size(); ++rest)
                if (const Folder* old = knownFolders.value(dirs[rest].fileName())) partial->folders.append(*old);
            publish(std::move(partial));
        }
    }
    next->parsed = work.parsed;
    next->ruleSteps = work.budget.spent;
    next->skipped = work.skipped;
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
    const bool same = sameFiles(*snapshot_, *next) && snapshot_->skipped == next->skipped;
    parsedTotal_ += next->parsed;
    ++taken_;
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
    // Only the newest partial snapshot waits for the GUI thread; an older one not yet taken is
    // replaced, so a slow GUI thread never has a queue of copies to work through.
    struct Waiting {
        QMutex mutex;
        std::shared_ptr<const Snapshot> partial;
    };
    auto waiting = std::make_shared<Waiting>();
    runThen(this, [self, root, previous, writesAtStart, waiting] {
        // A calendar appears soon after it is read, not when the last one is.
        auto publish = [self, writesAtStart, waiting](std::shared_ptr<const Snapshot> partial) {
            {
                QMutexLocker lock(&waiting->mutex);
                const bool posted = waiting->partial != nullptr;
                waiting->partial = std::move(partial);
                if (posted) return;
            }
            postToGui([self, writesAtStart, waiting] {
                std::shared_ptr<const Snapshot> newest;
                {
                    QMutexLocker lock(&waiting->mutex);
                    newest = std::move(waiting->partial);
                    waiting->partial = nullptr;
                }
                if (self && newest && self->writes_ == writesAtStart && self->scanning_) self->take(newest);
            });
        };
        return scan(root, previous, publish);
    }, [this, writesAtStart, waiting](std::shared_ptr<const Snapshot> next) {
        scanning_ = false;
        {
            // A partial one still waiting is older than the whole result.
            QMutexLocker lock(&waiting->mutex);
            waiting->partial = nullptr;
        }
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
    return QtConcurrent::run(&reader_, [snapshot = snapshot_, from, to] { return expand(*snapshot, from, to); }).result();
}

void VdirCalendarStore::fetchEvents(const QDateTime& from, const QDateTime& to, QObject* context,
                                    std::function<void(QList<CalendarEvent>)> done) {
    // Linear in the whole folder, every series expanded: too slow for the GUI thread with
    // thousands of events. Occurrences come in UTC, which the GUI thread sorts without asking a zone.
    runThen(&reader_, context, [snapshot = snapshot_, from, to] {
        QList<CalendarEvent> list = expand(*snapshot, from, to);
        sortByStart(list);
        return list;
    }, std::move(done));
}

void VdirCalendarStore::fetchIncompleteTasks(const QDateTime& dueBefore, QObject* context,
                                             std::function<void(QList<CalendarTask>)> done) {
    runThen(&reader_, context, [snapshot = snapshot_, dueBefore] { return incompleteTasks(*snapshot, dueBefore); },
            std::move(done));
}

QList<CalendarTask> VdirCalendarStore::incompleteTasks(const Snapshot& snapshot, const QDateTime& dueBefore) {
    ics::forgetLocalOffsets();
    QList<CalendarTask> tasks;
    const qint64 bound = dueBefore.toSecsSinceEpoch();
    for (const Folder& f : snapshot.folders)
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
    return tasks;
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
    // The other files' skipped series are still skipped; the file written is counted anew.
    SkippedSeries skipped;
    for (const Folder& f : next->folders)
        for (const Item& i : f.items)
            if (i.parsed)
                for (const ics::Series& s : i.parsed->series)
                    if (s.skipped && skipped.count++ == 0) skipped.firstFile = i.path;
    next->skipped = skipped;
    work.logSkipped();
    take(next);
}

std::optional<LomexError> VdirCalendarStore::saveEvent(const NewEvent& e) {
    const QString uid = newUid();
    return writeNew(e.calendarId, uid, ics::newEventText(uid, e));
}

std::optional<LomexError> VdirCalendarStore::saveTask(const NewTask& t) {
    const QString uid = newUid();
    return writeNew(t.calendarId, uid, ics::newTaskText(uid, t));
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

    const std::optional<QByteArray> written = ics::completedTaskText(*data, parsed->tasks, task.uid, now);
    if (!written) return fail(QStringLiteral("the task is no longer there"));
    if (auto err = fileio::writeAtomically(task.itemPath, *written)) return LomexError{QStringLiteral("POSIX"), 0, *err};
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
