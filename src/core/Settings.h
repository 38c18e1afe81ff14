#pragma once
#include "core/LomexError.h"
#include <QObject>
#include <QString>
#include <QStringList>
#include <nlohmann/json.hpp>
#include <optional>

class QFileSystemWatcher;
class QTimer;

namespace lomex {

// The user's settings: typed values in one JSON object file (settings.json), written
// atomically with mode 0600. Registered defaults live apart from stored values: a key with
// a registered default reads as that default until written; an unregistered key reads as absent.
// The user may edit the file by hand while we run: it is watched and read again (changed keys
// emit changed()), and a write changes only its own key in what the file holds at that moment.
// A file the user made read-only is never replaced. Lives on the GUI thread.
class Settings : public QObject {
    Q_OBJECT
public:
    explicit Settings(QString filePath, QObject* parent = nullptr);

    // Far beyond any real settings file. A larger file is set aside as unreadable when met, and a
    // write that would make it larger is refused.
    static constexpr qint64 maxFileBytes = 32 << 20;

    // The process-wide instance, stored at paths::settingsFile().
    static Settings& shared();
    // Drops the shared instance so the next shared() reads the file anew (tests).
    static void resetShared();

    void registerDefaults(const nlohmann::json& defaults);
    // The 27 defaults registered at launch.
    void registerLaunchDefaults();
    static nlohmann::json launchDefaults();

    bool isStored(const QString& key) const;              // written by the user or the app
    bool hasValue(const QString& key) const;               // stored or registered
    std::optional<nlohmann::json> value(const QString& key) const;

    // Typed reads: a stored value of another type (an integer read must be a whole number that
    // fits) counts as absent and gives the registered default, or else the fallback.
    bool boolValue(const QString& key, bool fallback = false) const;
    int intValue(const QString& key, int fallback = 0) const;
    double doubleValue(const QString& key, double fallback = 0) const;
    std::optional<QString> string(const QString& key) const;
    QString stringValue(const QString& key, const QString& fallback = {}) const;
    std::optional<QStringList> stringList(const QString& key) const;
    std::optional<nlohmann::json> data(const QString& key) const; // structured JSON value

    // Writes return the error when the file could not be written; the value then stays as the
    // file holds it, and changed(key) is emitted all the same so a control shows what is stored.
    std::optional<LomexError> setValue(const QString& key, const nlohmann::json& value);
    std::optional<LomexError> setBool(const QString& key, bool v) { return setValue(key, v); }
    std::optional<LomexError> setInt(const QString& key, int v) { return setValue(key, v); }
    std::optional<LomexError> setDouble(const QString& key, double v) { return setValue(key, v); }
    std::optional<LomexError> setString(const QString& key, const QString& v) { return setValue(key, v.toStdString()); }
    std::optional<LomexError> setStringList(const QString& key, const QStringList& v);
    std::optional<LomexError> remove(const QString& key);

    // Reads the file again now (the watcher does this by itself shortly after a change).
    void reload();

    QString filePath() const { return path_; }
    // Why the last save failed, none when it worked; a read-only file comes as data, for the
    // caller to word (L10n::worded).
    const std::optional<LomexError>& lastError() const { return lastError_; }

Q_SIGNALS:
    void changed(const QString& key);
    // A write of key did not reach the file (error: why); emitted after changed(key).
    void saveFailed(const QString& key, const QString& error);

private:
    void load();
    // The stored value when it fits, else the registered default when that fits, else nothing.
    const nlohmann::json* typed(const QString& key, bool (*fits)(const nlohmann::json&)) const;
    // Writes key (nothing: removes it) into what the file holds now.
    std::optional<LomexError> write(const QString& key, const std::optional<nlohmann::json>& value);
    // Takes the file's content as the stored values; emits changed() for each key that differs.
    void adopt(nlohmann::json fresh);
    void watch();

    QString path_;
    QFileSystemWatcher* watcher_ = nullptr;
    QTimer* reread_ = nullptr;
    nlohmann::json stored_ = nlohmann::json::object();
    nlohmann::json defaults_ = nlohmann::json::object();
    std::optional<LomexError> lastError_;
};

} // namespace lomex
