#include "core/Settings.h"
#include "core/Log.h"
#include "core/FileIO.h"
#include "core/JsonFile.h"
#include "core/Paths.h"
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QTimer>
#include <algorithm>
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

Settings::Settings(QString filePath, QObject* parent) : QObject(parent), path_(std::move(filePath)) {
    load();
    // Without an application there is no event loop to deliver changes (command-line modes).
    if (!QCoreApplication::instance()) return;
    watcher_ = new QFileSystemWatcher(this);
    reread_ = new QTimer(this);
    reread_->setSingleShot(true);
    reread_->setInterval(rereadDelayMs);
    connect(reread_, &QTimer::timeout, this, &Settings::reload);
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

json Settings::launchDefaults() {
    return json{
        // shell
        {"haptics", true}, {"liveActivity", true}, {"hoverDelay", 0.12}, {"hoverTabs", true},
        {"hotkeysEnabled", true},
        // coding agents
        {"agentsEnabled", false}, {"agentApprovals", true}, {"agentReminders", true},
        {"agentCelebrate", true}, {"agentReplyMode", "type"},
        // calendar and people
        {"agendaDays", 1}, {"meetingLead", 10}, {"showNameDays", true}, {"showOverdue", true},
        {"contactsOccasions", true},
        // device, media, clipboard
        {"workMinutes", 25}, {"breakMinutes", 5}, {"batteryNotices", true}, {"headphoneNotices", true},
        {"liveEqualizer", false}, {"clipboardEnabled", true}, {"pasteDirectly", true},
        // feeds
        {"leaveEnabled", false}, {"walkMinutes", 5}, {"weatherEnabled", true}, {"chmiEnabled", true},
        {"usageEnabled", false},
    };
}

void Settings::registerLaunchDefaults() { registerDefaults(launchDefaults()); }

void Settings::registerDefaults(const json& defaults) {
    if (!defaults.is_object()) return;
    for (auto it = defaults.begin(); it != defaults.end(); ++it) defaults_[it.key()] = it.value();
}

void Settings::load() {
    auto read = jsonfile::read(path_, ownFileOptions().maxBytes);
    if (auto* root = std::get_if<jsonfile::Json>(&read)) {
        stored_ = json(*root);
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

void Settings::reload() {
    watch();
    auto read = jsonfile::read(path_, ownFileOptions().maxBytes);
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

std::optional<LomexError> Settings::write(const QString& key, const std::optional<json>& value) {
    const bool wasStored = isStored(key);
    const jsonfile::EditOptions options = ownFileOptions();
    std::optional<LomexError> error;
    // A file that no longer holds a settings object is set aside as at start, never
    // overwritten; the values we hold are written in its place.
    bool setAside = false;
    auto current = jsonfile::read(path_, options.maxBytes);
    if (auto* e = std::get_if<LomexError>(&current)) {
        if (!unusable(*e)) error = *e;
        else if (jsonfile::isReadOnly(path_)) error = jsonfile::readOnlyError(path_);
        else if (auto aside = fileio::moveAside(path_, path_ + ".corrupt")) {
            logWarning("settings file cannot be used (" + e->message + "); moved to " + *aside);
            setAside = true;
        } else {
            error = LomexError{QStringLiteral("POSIX"), EIO, path_ + QStringLiteral(": not a JSON object and could not be moved aside")};
        }
    }

    std::optional<jsonfile::Json> disk;
    if (!error) {
        paths::ensureDir(QFileInfo(path_).absolutePath());
        error = jsonfile::edit(path_, [&](jsonfile::Json& root) {
            if (setAside && root.empty()) root = jsonfile::Json(stored_);
            disk = root;
            if (value) root[k(key)] = jsonfile::Json(*value);
            else root.erase(k(key));
            return QString();
        }, options);
    }
    if (error) {
        lastError_ = error;
        logWarning("settings could not be saved: " + error->message +
                   (jsonfile::isReadOnlyError(*error) ? QStringLiteral(": read-only") : QString()));
    } else {
        lastError_.reset();
    }
    watch();

    // What the file holds now: the outside changes we met, and our key when it was written.
    if (disk) {
        json fresh(*disk);
        const std::string name = k(key);
        const bool onDisk = fresh.contains(name);
        std::optional<json> now = error ? (onDisk ? std::optional<json>(fresh[name]) : std::nullopt) : value;
        // Our own key signals once, below, whether or not it changed.
        if (auto it = stored_.find(name); it != stored_.end()) fresh[name] = *it;
        else fresh.erase(name);
        adopt(std::move(fresh));
        if (now) stored_[name] = *now;
        else stored_.erase(name);
        if (value || wasStored || onDisk) Q_EMIT changed(key);
    } else if (value || wasStored) {
        Q_EMIT changed(key);
    }
    if (error) Q_EMIT saveFailed(key, error->message);
    return error;
}

bool Settings::isStored(const QString& key) const { return stored_.contains(k(key)); }

bool Settings::hasValue(const QString& key) const { return isStored(key) || defaults_.contains(k(key)); }

std::optional<json> Settings::value(const QString& key) const {
    const std::string name = k(key);
    if (auto it = stored_.find(name); it != stored_.end()) return *it;
    if (auto it = defaults_.find(name); it != defaults_.end()) return *it;
    return std::nullopt;
}

const json* Settings::typed(const QString& key, bool (*fits)(const json&)) const {
    const std::string name = k(key);
    for (const json* from : {&stored_, &defaults_})
        if (auto it = from->find(name); it != from->end() && fits(*it)) return &*it;
    return nullptr;
}

bool Settings::boolValue(const QString& key, bool fallback) const {
    const json* v = typed(key, [](const json& j) { return j.is_boolean(); });
    return v ? v->get<bool>() : fallback;
}

int Settings::intValue(const QString& key, int fallback) const {
    const json* v = typed(key, [](const json& j) { return wholeInt(j).has_value(); });
    return v ? *wholeInt(*v) : fallback;
}

double Settings::doubleValue(const QString& key, double fallback) const {
    const json* v = typed(key, isFiniteNumber);
    return v ? v->get<double>() : fallback;
}

std::optional<QString> Settings::string(const QString& key) const {
    const json* v = typed(key, [](const json& j) { return j.is_string(); });
    if (!v) return std::nullopt;
    return QString::fromStdString(v->get_ref<const std::string&>());
}

QString Settings::stringValue(const QString& key, const QString& fallback) const {
    return string(key).value_or(fallback);
}

std::optional<QStringList> Settings::stringList(const QString& key) const {
    const json* v = typed(key, [](const json& j) { return j.is_array(); });
    if (!v) return std::nullopt;
    QStringList out;
    for (const auto& e : *v)
        if (e.is_string()) out << QString::fromStdString(e.get<std::string>());
    return out;
}

std::optional<json> Settings::data(const QString& key) const { return value(key); }

std::optional<LomexError> Settings::setValue(const QString& key, const json& v) { return write(key, v); }

std::optional<LomexError> Settings::setStringList(const QString& key, const QStringList& v) {
    json arr = json::array();
    for (const auto& s : v) arr.push_back(s.toStdString());
    return setValue(key, arr);
}

std::optional<LomexError> Settings::remove(const QString& key) { return write(key, std::nullopt); }

} // namespace lomex
