#pragma once
#include "core/LomexError.h"
#include "core/SettingsKeys.h"
#include <QObject>
#include <QString>
#include <QStringList>
#include <nlohmann/json.hpp>
#include <concepts>
#include <memory>
#include <optional>
#include <type_traits>

class QFileSystemWatcher;
class QTimer;

namespace lomex {

// What a write of a key of type T accepts: the type itself, text for a text key, any number for
// a double, and anything JSON takes for a structured key; never a pointer or a bool in disguise.
template <typename T, typename U>
concept StorableAs = std::same_as<std::remove_cvref_t<U>, T>
    || (std::same_as<T, QString> && std::convertible_to<U, QString> && !std::same_as<std::remove_cvref_t<U>, bool>)
    || (std::same_as<T, double> && std::is_arithmetic_v<std::remove_cvref_t<U>> && !std::same_as<std::remove_cvref_t<U>, bool>)
    || (std::same_as<T, nlohmann::json> && std::constructible_from<nlohmann::json, U>);

// The user's settings: typed values in one JSON object file (settings.json), written
// atomically with mode 0600. Registered defaults live apart from stored values: a key with
// a registered default reads as that default until written; an unregistered key reads as absent.
// The user may edit the file by hand while we run: it is watched and read again (changed keys
// emit changed()), and a write changes only its own keys in what the file holds at that moment.
// A file the user made read-only is never replaced. Lives on the GUI thread.
// A write changes the value in memory at once (readers see it, changed() is emitted); the file
// is read, merged and written on a thread of its own, several writes in one; a write that did
// not reach the file is reported by saveFailed(). Quitting waits for the last write (flush).
class Settings : public QObject {
    Q_OBJECT
public:
    explicit Settings(QString filePath, QObject* parent = nullptr);
    ~Settings() override; // waits for the last write, as flush() does

    // Far beyond any real settings file. A larger file is set aside as unreadable when met, and a
    // write that would make it larger is refused.
    static constexpr qint64 maxFileBytes = 32 << 20;

    // The process-wide instance, stored at paths::settingsFile().
    static Settings& shared();
    // Drops the shared instance so the next shared() reads the file anew (tests).
    static void resetShared();

    // The defaults the key table registers at launch.
    void registerLaunchDefaults();
    static nlohmann::json launchDefaults();

    // Typed access by a key of the table (SettingsKeys.h). A stored value of another type (an
    // integer read must be a whole number that fits) counts as absent.
    // The stored value, else the registered default, else the key's own default.
    template <typename T> T get(const Key<T>& key) const;
    // The stored value, else the registered default, else nothing.
    template <typename T> std::optional<T> find(const Key<T>& key) const;
    bool isStored(AnyKey key) const; // written by the user or the app

    // A write is refused at once, with the error and nothing changed, only for a value past the
    // key's bounds (a text longer than maxChars). Otherwise the value is the key's from now on
    // and goes to the file shortly; when that fails, saveFailed() reports it and the key goes
    // back to what the file holds, with changed(key) so a control shows what is stored.
    template <typename T, typename U>
        requires StorableAs<T, U>
    std::optional<LomexError> set(const Key<T>& key, U&& value) {
        T v(std::forward<U>(value));
        if constexpr (std::is_same_v<T, QString>)
            if (key.maxChars > 0 && v.size() > key.maxChars) return tooLong(key.name, key.maxChars);
        return write(QString::fromLatin1(key.name), toJson(v));
    }
    // The error of a text past its key's maxChars: domain "Lomex.TooLong", the bound as its code.
    static LomexError tooLong(const char* name, int maxChars);
    static bool isTooLong(const LomexError& error);
    std::optional<LomexError> remove(AnyKey key) { return write(key.name(), std::nullopt); }

    // Untyped access by name, for tests and tools that handle the file as JSON (a value of the
    // wrong type, a key no code knows). App code uses the typed keys above.
    void registerDefaults(const nlohmann::json& defaults);
    std::optional<nlohmann::json> valueByName(const QString& name) const; // stored or registered
    bool isStoredByName(const QString& name) const;
    std::optional<LomexError> setByName(const QString& name, const nlohmann::json& value);
    std::optional<LomexError> removeByName(const QString& name);

    // Removes what a write cut short left beside the file (its temporary copies). Called at
    // start by the one instance that writes the file, before its first write.
    int removeStaleTemporaries() const;

    // Writes what is waiting now and waits for it, at most timeoutMs; true when nothing is left
    // waiting. Quitting the application calls it.
    bool flush(int timeoutMs = flushLimitMs);
    static constexpr int flushLimitMs = 2000;

    // Tests: the file work this instance did, in all and on the GUI thread.
    struct FileWork {
        int parses = 0, writes = 0, guiParses = 0, guiWrites = 0;
    };
    FileWork fileWork() const;

    // Reads the file again now (the watcher does this by itself shortly after a change).
    void reload();

    QString filePath() const { return path_; }
    // Why the last save failed, none when it worked; a read-only file comes as data, for the
    // caller to word (L10n::worded).
    const std::optional<LomexError>& lastError() const { return lastError_; }

Q_SIGNALS:
    void changed(const QString& key);
    // A write of key did not reach the file (error: why); emitted before changed(key) puts the
    // key back to what the file holds.
    void saveFailed(const QString& key, const QString& error);
    // The writes made so far reached the file.
    void saved();

private:
    void load();
    // Sets key (nothing: removes it) in memory and queues it for the file.
    std::optional<LomexError> write(const QString& key, std::optional<nlohmann::json> value);
    struct Writer;
    std::shared_ptr<Writer> writer_;
    static nlohmann::json toJson(bool v);
    static nlohmann::json toJson(int v);
    static nlohmann::json toJson(double v);
    static nlohmann::json toJson(const QString& v);
    static nlohmann::json toJson(const QStringList& v);
    static nlohmann::json toJson(const nlohmann::json& v);
    template <typename T> static std::optional<T> fromJson(const nlohmann::json& value);
    // The stored value of name when fromJson reads it, else the registered default when it does.
    template <typename T> std::optional<T> typed(const char* name) const;
    // Takes the file's content as the stored values; emits changed() for each key that differs.
    void adopt(nlohmann::json fresh);
    void startBatch();
    void finishBatch();
    void reloadSoon();
    void finishReload();
    void watch();

    QString path_;
    QFileSystemWatcher* watcher_ = nullptr;
    QTimer* reread_ = nullptr;
    nlohmann::json stored_ = nlohmann::json::object();
    nlohmann::json defaults_ = nlohmann::json::object();
    std::optional<LomexError> lastError_;
};

} // namespace lomex
