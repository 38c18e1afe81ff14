#include "core/Settings.h"
#include "core/Log.h"
#include "core/FileIO.h"
#include "core/Paths.h"
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <climits>
#include <limits>
#include <cmath>
#include <memory>

namespace lomex {

using nlohmann::json;

namespace {
std::unique_ptr<Settings> g_shared;
std::string k(const QString& key) { return key.toStdString(); }
} // namespace

Settings::Settings(QString filePath, QObject* parent) : QObject(parent), path_(std::move(filePath)) { load(); }

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
    if (!QFile::exists(path_)) return;
    QString error;
    // Read whole however large: a cut file would not parse and would count as corrupt.
    auto bytes = fileio::readRegularFile(path_, std::numeric_limits<qint64>::max(), &error);
    if (!bytes) {
        logWarning("settings could not be read: " + error);
        return;
    }
    json parsed = json::parse(bytes->constData(), bytes->constData() + bytes->size(), nullptr, false);
    if (parsed.is_object()) {
        stored_ = std::move(parsed);
        return;
    }
    // Keep the user's copy, and every copy set aside before: a name of its own each time.
    if (auto aside = fileio::moveAside(path_, path_ + ".corrupt"))
        logWarning("settings file is not a JSON object; moved to " + *aside + ", starting from defaults");
    else
        logWarning("settings file is not a JSON object and could not be moved aside: " + path_);
}

void Settings::save() {
    paths::ensureDir(QFileInfo(path_).absolutePath());
    const std::string text = stored_.dump(2);
    fileio::WriteOptions opts;
    opts.newFileMode = 0600;
    opts.keepExistingMode = false; // the settings file stays private
    if (auto err = fileio::writeAtomically(path_, QByteArray::fromStdString(text), opts)) {
        lastError_ = *err;
        logWarning("settings could not be saved: " + *err);
    } else {
        lastError_.clear();
    }
}

bool Settings::isStored(const QString& key) const { return stored_.contains(k(key)); }

bool Settings::hasValue(const QString& key) const { return isStored(key) || defaults_.contains(k(key)); }

std::optional<json> Settings::value(const QString& key) const {
    const std::string name = k(key);
    if (auto it = stored_.find(name); it != stored_.end()) return *it;
    if (auto it = defaults_.find(name); it != defaults_.end()) return *it;
    return std::nullopt;
}

bool Settings::boolValue(const QString& key, bool fallback) const {
    auto v = value(key);
    if (!v) return fallback;
    if (v->is_boolean()) return v->get<bool>();
    if (v->is_number()) return v->get<double>() != 0;
    return fallback;
}

int Settings::intValue(const QString& key, int fallback) const {
    auto v = value(key);
    if (!v) return fallback;
    if (v->is_number_integer()) {
        long long n = v->get<long long>();
        return int(std::clamp<long long>(n, INT_MIN, INT_MAX));
    }
    if (v->is_number()) {
        double d = v->get<double>();
        if (!std::isfinite(d)) return fallback;
        return int(std::clamp<double>(d, INT_MIN, INT_MAX));
    }
    if (v->is_boolean()) return v->get<bool>() ? 1 : 0;
    return fallback;
}

double Settings::doubleValue(const QString& key, double fallback) const {
    auto v = value(key);
    if (!v || !v->is_number()) return fallback;
    return v->get<double>();
}

std::optional<QString> Settings::string(const QString& key) const {
    auto v = value(key);
    if (!v || !v->is_string()) return std::nullopt;
    return QString::fromStdString(v->get<std::string>());
}

QString Settings::stringValue(const QString& key, const QString& fallback) const {
    return string(key).value_or(fallback);
}

std::optional<QStringList> Settings::stringList(const QString& key) const {
    auto v = value(key);
    if (!v || !v->is_array()) return std::nullopt;
    QStringList out;
    for (const auto& e : *v)
        if (e.is_string()) out << QString::fromStdString(e.get<std::string>());
    return out;
}

std::optional<json> Settings::data(const QString& key) const { return value(key); }

void Settings::setValue(const QString& key, const json& v) {
    stored_[k(key)] = v;
    save();
    Q_EMIT changed(key);
}

void Settings::setStringList(const QString& key, const QStringList& v) {
    json arr = json::array();
    for (const auto& s : v) arr.push_back(s.toStdString());
    setValue(key, arr);
}

void Settings::remove(const QString& key) {
    if (stored_.erase(k(key)) == 0) return;
    save();
    Q_EMIT changed(key);
}

} // namespace lomex
