#pragma once
#include <QObject>
#include <QString>
#include <QStringList>
#include <nlohmann/json.hpp>
#include <optional>

namespace lomex {

// The user's settings: typed values in one JSON object file (settings.json), written whole
// and atomically with mode 0600. Registered defaults live apart from stored values: a key with
// a registered default reads as that default until written; an unregistered key reads as absent.
// Lives on the GUI thread.
class Settings : public QObject {
    Q_OBJECT
public:
    explicit Settings(QString filePath, QObject* parent = nullptr);

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

    // Typed reads: a value of another type counts as absent and gives the fallback.
    bool boolValue(const QString& key, bool fallback = false) const;
    int intValue(const QString& key, int fallback = 0) const;
    double doubleValue(const QString& key, double fallback = 0) const;
    std::optional<QString> string(const QString& key) const;
    QString stringValue(const QString& key, const QString& fallback = {}) const;
    std::optional<QStringList> stringList(const QString& key) const;
    std::optional<nlohmann::json> data(const QString& key) const; // structured JSON value

    void setValue(const QString& key, const nlohmann::json& value);
    void setBool(const QString& key, bool v) { setValue(key, v); }
    void setInt(const QString& key, int v) { setValue(key, v); }
    void setDouble(const QString& key, double v) { setValue(key, v); }
    void setString(const QString& key, const QString& v) { setValue(key, v.toStdString()); }
    void setStringList(const QString& key, const QStringList& v);
    void remove(const QString& key);

    QString filePath() const { return path_; }
    // Text of the last failed save, empty when the last save worked.
    QString lastError() const { return lastError_; }

Q_SIGNALS:
    void changed(const QString& key);

private:
    void load();
    void save();

    QString path_;
    nlohmann::json stored_ = nlohmann::json::object();
    nlohmann::json defaults_ = nlohmann::json::object();
    QString lastError_;
};

} // namespace lomex
