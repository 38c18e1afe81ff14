#include "core/Settings.h"
#include "core/Log.h"
#include "core/FileIO.h"
#include "core/JsonFile.h"
#include "core/Paths.h"
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QElapsedTimer>
#include <QFutureWatcher>
#include <QThread>
#include <QThreadPool>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <atomic>
#include <map>
#include <set>
#include <sys/stat.h>
#include <cerrno>
#include <climits>
#include <cstring>
#include <limits>
#include <cmath>
#include <memory>

namespace lomex {

using nlohmann::json;

namespace {
std::unique_ptr<Settings> g_shared;
std::string k(const QString& key) { return key.toStdString(); }

// An error that means the file can never be used as it is: set aside rather than kept.
bool unusable(const LomexError& error) { return jsonfile::isContentError(error) || jsonfile::isTooLarge(error); }

std::optional<int> wholeInt(const json& v) {
    if (v.is_number_unsigned()) {
        const auto n = v.get<std::uint64_t>();
        return n <= std::uint64_t(INT_MAX) ? std::optional<int>(int(n)) : std::nullopt;
    }
    if (v.is_number_integer()) {
        const auto n = v.get<std::int64_t>();
        return n >= INT_MIN && n <= INT_MAX ? std::optional<int>(int(n)) : std::nullopt;
    }
    if (v.is_number_float()) {
        const double d = v.get<double>();
        return std::isfinite(d) && d == std::trunc(d) && d >= INT_MIN && d <= INT_MAX ? std::optional<int>(int(d))
                                                                                        : std::nullopt;
    }
    return std::nullopt;
}

bool isFiniteNumber(const json& v) { return v.is_number() && std::isfinite(v.get<double>()); }

// Read the file again this long after the last change seen, so an editor's save (a rename, or
// a truncate and a write) is read once it is whole.
constexpr int rereadDelayMs = 100;

jsonfile::EditOptions ownFileOptions() {
    jsonfile::EditOptions options;
    // Bounded, so a file claiming terabytes cannot take the memory; writes stay below it, so a
    // file we wrote is never the one set aside.
    options.maxBytes = Settings::maxFileBytes;
    options.write.newFileMode = 0600;
    options.write.keepExistingMode = false; // the settings file stays private
    return options;
}
} // namespace

namespace {

// What the writer thread knows of the file. Touched only by jobs on the writer's pool, which
// runs one at a time, except the counters.
struct Disk {
    QString path;
    // The file as we last wrote it (or read it at start): a file that holds something else at
    // our next write was changed by someone else, and the GUI thread hears of it.
    jsonfile::Json lastWritten;
    // Which file our last write left (a hand edit or another program's save makes another).
    struct Id {
        dev_t dev = 0;
        ino_t ino = 0;
        off_t size = 0;
        timespec mtime{};
        bool operator==(const Id& o) const {
            return dev == o.dev && ino == o.ino && size == o.size && mtime.tv_sec == o.mtime.tv_sec
                   && mtime.tv_nsec == o.mtime.tv_nsec;
        }
    };
    std::optional<Id> ownWrite;
    std::atomic<int> parses{0}, writes{0}, guiParses{0}, guiWrites{0};

    static bool onGui() {
        auto* app = QCoreApplication::instance();
        return app && QThread::currentThread() == app->thread();
    }
    void countParse() {
        ++parses;
        if (onGui()) ++guiParses;
    }
    void countWrite() {
        ++writes;
        if (onGui()) ++guiWrites;
    }
    std::optional<Id> id() const {
        struct stat st {};
        if (::stat(QFile::encodeName(path).constData(), &st) != 0) return std::nullopt;
        return Id{st.st_dev, st.st_ino, st.st_size, st.st_mtim};
    }
};

using Edits = std::map<std::string, std::optional<json>>;

// What one batch of writes came to.
struct BatchOutcome {
    std::optional<LomexError> error;
    // What the file holds now, when someone else had changed it since our last write.
    std::optional<json> fresh;
    // After a failure: the file's values of the batch's keys (absent: not in the file), when the
    // file could be read.
    std::optional<json> disk;
};

BatchOutcome writeBatch(Disk& disk, const Edits& edits) {
    BatchOutcome out;
    const jsonfile::EditOptions options = ownFileOptions();
    std::optional<jsonfile::Json> before, after;
    bool setAside = false;
    const auto apply = [&](jsonfile::Json& root) {
        disk.countParse();
        // A file set aside is replaced by the values we hold.
        if (setAside && root.empty()) root = disk.lastWritten;
        before = root;
        for (const auto& [name, value] : edits) {
            if (value) root[name] = jsonfile::Json(*value);
            else root.erase(name);
        }
        after = root;
        return QString();
    };
    paths::ensureDir(QFileInfo(disk.path).absolutePath());
    out.error = jsonfile::edit(disk.path, apply, options);
    // A file that no longer holds a settings object is set aside as at start, never overwritten.
    if (out.error && unusable(*out.error)) {
        const LomexError why = *out.error;
        if (jsonfile::isReadOnly(disk.path)) {
            out.error = jsonfile::readOnlyError(disk.path);
        } else if (auto aside = fileio::moveAside(disk.path, disk.path + ".corrupt")) {
            logWarning("settings file cannot be used (" + why.message + "); moved to " + *aside);
            setAside = true;
            before.reset();
            out.error = jsonfile::edit(disk.path, apply, options);
        } else {
            out.error = LomexError{QStringLiteral("POSIX"), EIO,
                                   disk.path + QStringLiteral(": not a JSON object and could not be moved aside")};
        }
    }
    if (out.error) {
        if (before) {
            json values = json::object();
            for (const auto& edit : edits)
                if (auto it = before->find(edit.first); it != before->end()) values[edit.first] = json(*it);
            out.disk = std::move(values);
        }
        return out;
    }
    if (!after) return out; // nothing to read (cannot happen: edit parses first)
    if (*before != *after) disk.countWrite();
    const bool outside = !setAside && *before != disk.lastWritten;
    disk.lastWritten = std::move(*after);
    // The file now, when it is still the one we wrote: another program's save may already have
    // followed ours, and must not be taken for ours.
    disk.ownWrite = disk.id();
    const auto bytes = fileio::readRegularFile(disk.path, options.maxBytes);
    if (!bytes || *bytes != QByteArray::fromStdString(disk.lastWritten.dump(2)) + '\n' || disk.id() != disk.ownWrite)
        disk.ownWrite.reset();
    if (outside) out.fresh = json(disk.lastWritten);
    return out;
}

// The file's content when it is no longer what we last wrote; nothing when it is (our own
// write, seen by the watcher) or cannot be read.
std::optional<json> readIfChanged(Disk& disk) {
    if (disk.ownWrite && disk.id() == disk.ownWrite) return std::nullopt;
    auto read = jsonfile::read(disk.path, ownFileOptions().maxBytes);
    disk.countParse();
    if (auto* root = std::get_if<jsonfile::Json>(&read)) return json(*root);
    // Possibly an editor half-way through its save: its next change is read again. A file that
    // stays unreadable is set aside by the next write, as at start.
    logWarning("settings changed on disk but could not be read: " + std::get<LomexError>(read).message);
    return std::nullopt;
}
} // namespace

// The GUI thread's side of the writer.
struct Settings::Writer {
    std::shared_ptr<Disk> disk = std::make_shared<Disk>();
    // One thread: batches and reads run in the order they were asked for.
    QThreadPool pool;
    // Keys written since the last batch went out (nothing: removed).
    Edits pending;
    // The keys of the batch on its way.
    std::set<std::string> inFlight;
    QFuture<BatchOutcome> batch;
    bool busy = false;
    QTimer* soon = nullptr;
    QFuture<std::optional<json>> read;
    bool reading = false, readAgain = false;
    // Jobs in the order they were asked for: a read asked for before a batch whose outcome was
    // taken is older than what that batch told (it reports any change by others itself).
    quint64 jobs = 0, batchJob = 0, readJob = 0, batchTaken = 0;

    bool isPending(const std::string& name) const { return pending.count(name) || (busy && inFlight.count(name)); }
};

Settings::Settings(QString filePath, QObject* parent)
    : QObject(parent), writer_(std::make_shared<Writer>()), path_(std::move(filePath)) {
    writer_->pool.setMaxThreadCount(1);
    writer_->disk->path = path_;
    load();
    // Without an application there is no event loop to deliver changes (command-line modes).
    if (!QCoreApplication::instance()) return;
    writer_->soon = new QTimer(this);
    writer_->soon->setSingleShot(true);
    writer_->soon->setInterval(0); // what is written in one pass of the event loop goes together
    connect(writer_->soon, &QTimer::timeout, this, &Settings::startBatch);
    connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, [this] { flush(); });
    watcher_ = new QFileSystemWatcher(this);
    reread_ = new QTimer(this);
    reread_->setSingleShot(true);
    reread_->setInterval(rereadDelayMs);
    connect(reread_, &QTimer::timeout, this, &Settings::reloadSoon);
    connect(watcher_, &QFileSystemWatcher::fileChanged, reread_, qOverload<>(&QTimer::start));
    connect(watcher_, &QFileSystemWatcher::directoryChanged, reread_, qOverload<>(&QTimer::start));
    watch();
}

// The folder too: editors save by writing a new file and renaming it over the old one, which
// ends a watch on the old file.
void Settings::watch() {
    if (!watcher_) return;
    const QString dir = QFileInfo(path_).absolutePath();
    if (!watcher_->directories().contains(dir) && QFileInfo(dir).isDir()) watcher_->addPath(dir);
    if (!watcher_->files().contains(path_) && QFileInfo::exists(path_)) watcher_->addPath(path_);
}

Settings& Settings::shared() {
    if (!g_shared) g_shared = std::make_unique<Settings>(paths::settingsFile());
    return *g_shared;
}

void Settings::resetShared() { g_shared.reset(); }

Settings::~Settings() {
    if (!flush()) logWarning("settings: the last change could not be written in time");
    writer_->pool.waitForDone(flushLimitMs);
}

Settings::FileWork Settings::fileWork() const {
    const Disk& d = *writer_->disk;
    return {d.parses.load(), d.writes.load(), d.guiParses.load(), d.guiWrites.load()};
}

void Settings::startBatch() {
    Writer& w = *writer_;
    if (w.busy || w.pending.empty()) return;
    Edits edits = std::move(w.pending);
    w.pending.clear();
    w.inFlight.clear();
    for (const auto& edit : edits) w.inFlight.insert(edit.first);
    w.busy = true;
    w.batchJob = ++w.jobs;
    if (!QCoreApplication::instance()) { // no event loop: written here and now
        w.batch = QtFuture::makeReadyFuture(writeBatch(*w.disk, edits));
        finishBatch();
        return;
    }
    w.batch = QtConcurrent::run(&w.pool, [disk = w.disk, edits = std::move(edits)] { return writeBatch(*disk, edits); });
    auto* done = new QFutureWatcher<BatchOutcome>(this);
    connect(done, &QFutureWatcherBase::finished, this, [this, done] {
        done->deleteLater();
        finishBatch();
    });
    done->setFuture(w.batch);
}

void Settings::finishBatch() {
    Writer& w = *writer_;
    // Taken already (flush), or a watcher of an older batch.
    if (!w.busy || !w.batch.isFinished()) return;
    BatchOutcome outcome = w.batch.result();
    const std::set<std::string> batch = std::move(w.inFlight);
    w.inFlight.clear();
    w.busy = false;
    w.batchTaken = w.batchJob;

    if (outcome.fresh) {
        // Someone else changed the file: take their keys; ours written since stay ours.
        json fresh = std::move(*outcome.fresh);
        for (const auto& edit : w.pending) {
            if (auto it = stored_.find(edit.first); it != stored_.end()) fresh[edit.first] = *it;
            else fresh.erase(edit.first);
        }
        adopt(std::move(fresh));
    }
    if (outcome.error) {
        lastError_ = outcome.error;
        logWarning("settings could not be saved: " + outcome.error->message
                   + (jsonfile::isReadOnlyError(*outcome.error) ? QStringLiteral(": read-only") : QString()));
        QStringList keys;
        for (const std::string& name : batch) {
            keys << QString::fromStdString(name);
            // Written again since: that write speaks for itself.
            if (w.pending.count(name) || !outcome.disk) continue;
            // The key goes back to what the file holds.
            if (auto it = outcome.disk->find(name); it != outcome.disk->end()) stored_[name] = *it;
            else stored_.erase(name);
        }
        // The failure first: a listener that keeps its own unsaved copy (the shelf, the note)
        // must know the write failed before it hears the key went back.
        for (const QString& key : keys) Q_EMIT saveFailed(key, outcome.error->message);
        for (const QString& key : keys) Q_EMIT changed(key);
    } else {
        lastError_.reset();
        Q_EMIT saved();
    }
    watch();
    if (!w.pending.empty() && w.soon) w.soon->start();
}

bool Settings::flush(int timeoutMs) {
    Writer& w = *writer_;
    QElapsedTimer elapsed;
    elapsed.start();
    while (w.busy || !w.pending.empty()) {
        if (!w.busy) startBatch();
        if (!w.busy) continue; // done in place (no event loop)
        const qint64 left = timeoutMs - elapsed.elapsed();
        if (left <= 0) return false;
        // The pool runs one job at a time: the batch is done when the pool is.
        if (!w.pool.waitForDone(int(left))) return false;
        finishBatch();
    }
    return true;
}

void Settings::reloadSoon() {
    Writer& w = *writer_;
    watch();
    // One read at a time; a change seen meanwhile is read after it.
    if (w.reading) {
        w.readAgain = true;
        return;
    }
    w.reading = true;
    w.readJob = ++w.jobs;
    w.read = QtConcurrent::run(&w.pool, [disk = w.disk] { return readIfChanged(*disk); });
    auto* done = new QFutureWatcher<std::optional<json>>(this);
    connect(done, &QFutureWatcherBase::finished, this, [this, done] {
        done->deleteLater();
        finishReload();
    });
    done->setFuture(w.read);
}

void Settings::finishReload() {
    Writer& w = *writer_;
    w.reading = false;
    if (w.readAgain) {
        w.readAgain = false;
        QTimer::singleShot(0, this, &Settings::reloadSoon);
    }
    std::optional<json> fresh = w.read.result();
    // A batch asked for after this read brought the file's newer content itself.
    if (!fresh || w.readJob < w.batchTaken) return;
    // Keys of ours on their way are not the file's to change back.
    const auto keepOurs = [&](const std::string& name) {
        if (auto it = stored_.find(name); it != stored_.end()) (*fresh)[name] = *it;
        else fresh->erase(name);
    };
    for (const auto& edit : w.pending) keepOurs(edit.first);
    if (w.busy)
        for (const std::string& name : w.inFlight) keepOurs(name);
    adopt(std::move(*fresh));
}

json Settings::launchDefaults() {
    json out = json::object();
    std::apply([&](const auto*... key) {
        ((key->registered == Registered::atLaunch ? void(out[key->name] = toJson(key->defaultValue())) : void()), ...);
    }, keys::all);
    return out;
}

void Settings::registerLaunchDefaults() { registerDefaults(launchDefaults()); }

void Settings::registerDefaults(const json& defaults) {
    if (!defaults.is_object()) return;
    for (auto it = defaults.begin(); it != defaults.end(); ++it) defaults_[it.key()] = it.value();
}

void Settings::load() {
    auto read = jsonfile::read(path_, ownFileOptions().maxBytes);
    writer_->disk->countParse();
    if (auto* root = std::get_if<jsonfile::Json>(&read)) {
        stored_ = json(*root);
        writer_->disk->lastWritten = *root;
        return;
    }
    const LomexError& error = std::get<LomexError>(read);
    if (!unusable(error)) {
        logWarning("settings could not be read: " + error.message);
        return;
    }
    // Keep the user's copy, and every copy set aside before: a name of its own each time.
    if (auto aside = fileio::moveAside(path_, path_ + ".corrupt"))
        logWarning("settings file cannot be used (" + error.message + "); moved to " + *aside
                   + ", starting from defaults");
    else
        logWarning("settings file cannot be used and could not be moved aside: " + path_);
}

int Settings::removeStaleTemporaries() const {
    const int removed = fileio::removeStaleTemporaries(path_, 0); // no other writer: any age
    if (removed) log(QStringLiteral("removed %1 temporary copies of the settings left by an interrupted save").arg(removed));
    return removed;
}

void Settings::reload() {
    watch();
    flush();
    auto read = jsonfile::read(path_, ownFileOptions().maxBytes);
    writer_->disk->countParse();
    if (auto* root = std::get_if<jsonfile::Json>(&read)) {
        adopt(json(*root));
        return;
    }
    // Possibly an editor half-way through its save: its next change is read again. A file that
    // stays unreadable is set aside by the next write, as at start.
    logWarning("settings changed on disk but could not be read: " + std::get<LomexError>(read).message);
}

void Settings::adopt(json fresh) {
    // Only keys that differ change: an unchanged value keeps its type (a number read back from
    // the file is unsigned, the one we wrote was not).
    QStringList keys;
    for (auto it = stored_.begin(); it != stored_.end();) {
        if (fresh.contains(it.key())) {
            ++it;
            continue;
        }
        keys << QString::fromStdString(it.key());
        it = stored_.erase(it);
    }
    for (auto it = fresh.begin(); it != fresh.end(); ++it) {
        auto mine = stored_.find(it.key());
        if (mine != stored_.end() && *mine == *it) continue;
        keys << QString::fromStdString(it.key());
        stored_[it.key()] = std::move(*it);
    }
    for (const QString& key : keys) Q_EMIT changed(key);
}

std::optional<LomexError> Settings::write(const QString& key, std::optional<json> value) {
    const std::string name = k(key);
    auto it = stored_.find(name);
    const bool wasStored = it != stored_.end();
    if (!value && !wasStored) return std::nullopt;
    // The same value again changes nothing in the file (unless the last write failed: this one
    // is tried anew); changed() still tells the caller's control what is stored.
    if (!(value && wasStored && *it == *value && !writer_->isPending(name) && !lastError_)) {
        // One copy for what is read back, the value itself to the writer: a long list is
        // copied once on the GUI thread, not twice.
        if (value) stored_[name] = *value;
        else stored_.erase(it);
        writer_->pending[name] = std::move(value);
        if (writer_->soon) writer_->soon->start();
        else startBatch();
    }
    Q_EMIT changed(key);
    return std::nullopt;
}

LomexError Settings::tooLong(const char* name, int maxChars) {
    return {QStringLiteral("Lomex.TooLong"), maxChars, QString::fromLatin1(name)};
}

bool Settings::isTooLong(const LomexError& error) { return error.domain == QLatin1String("Lomex.TooLong"); }

bool Settings::isStored(AnyKey key) const { return stored_.contains(key.latin1()); }

bool Settings::isStoredByName(const QString& name) const { return stored_.contains(k(name)); }

std::optional<json> Settings::valueByName(const QString& key) const {
    const std::string name = k(key);
    if (auto it = stored_.find(name); it != stored_.end()) return *it;
    if (auto it = defaults_.find(name); it != defaults_.end()) return *it;
    return std::nullopt;
}

std::optional<LomexError> Settings::setByName(const QString& name, const json& v) { return write(name, v); }

std::optional<LomexError> Settings::removeByName(const QString& name) { return write(name, std::nullopt); }

json Settings::toJson(bool v) { return v; }
json Settings::toJson(int v) { return v; }
json Settings::toJson(double v) { return v; }
json Settings::toJson(const QString& v) { return v.toStdString(); }
json Settings::toJson(const json& v) { return v; }
json Settings::toJson(const QStringList& v) {
    json arr = json::array();
    for (const auto& s : v) arr.push_back(s.toStdString());
    return arr;
}

template <> std::optional<bool> Settings::fromJson(const json& v) {
    return v.is_boolean() ? std::optional<bool>(v.get<bool>()) : std::nullopt;
}
template <> std::optional<int> Settings::fromJson(const json& v) { return wholeInt(v); }
template <> std::optional<double> Settings::fromJson(const json& v) {
    return isFiniteNumber(v) ? std::optional<double>(v.get<double>()) : std::nullopt;
}
template <> std::optional<QString> Settings::fromJson(const json& v) {
    if (!v.is_string()) return std::nullopt;
    return QString::fromStdString(v.get_ref<const std::string&>());
}
template <> std::optional<QStringList> Settings::fromJson(const json& v) {
    if (!v.is_array()) return std::nullopt;
    QStringList out;
    for (const auto& e : v)
        if (e.is_string()) out << QString::fromStdString(e.get<std::string>());
    return out;
}
template <> std::optional<json> Settings::fromJson(const json& v) { return v; }

template <typename T> std::optional<T> Settings::typed(const char* name) const {
    for (const json* from : {&stored_, &defaults_})
        if (auto it = from->find(name); it != from->end())
            if (auto v = fromJson<T>(*it)) return v;
    return std::nullopt;
}

template <typename T> T Settings::get(const Key<T>& key) const {
    if (auto v = typed<T>(key.name)) return *v;
    return key.defaultValue();
}

template <typename T> std::optional<T> Settings::find(const Key<T>& key) const { return typed<T>(key.name); }

#define LOMEX_SETTINGS_TYPE(T)                                                                                     \
    template T Settings::get(const Key<T>&) const;                                                                \
    template std::optional<T> Settings::find(const Key<T>&) const;
LOMEX_SETTINGS_TYPE(bool)
LOMEX_SETTINGS_TYPE(int)
LOMEX_SETTINGS_TYPE(double)
LOMEX_SETTINGS_TYPE(QString)
LOMEX_SETTINGS_TYPE(QStringList)
LOMEX_SETTINGS_TYPE(json)
#undef LOMEX_SETTINGS_TYPE

} // namespace lomex
