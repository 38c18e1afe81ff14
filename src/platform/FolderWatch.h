#pragma once
#include <QObject>
#include <QStringList>

class QFileSystemWatcher;

namespace lomex {

class Clock;
class Timer;

// Watches a few folders (inotify through Qt) and reports changes debounced: a sync tool that
// writes a hundred files produces one changed() after things have been quiet for a moment.
class FolderWatch : public QObject {
    Q_OBJECT
public:
    static constexpr double quietSeconds = 0.5;

    explicit FolderWatch(Clock* clock, QObject* parent = nullptr);
    // Replaces the watched folders (missing ones are ignored). Only the difference is added and
    // removed: many folders must not be dropped and watched again at every change.
    void watch(const QStringList& folders);
    // Folders added to and removed from the watch so far (tests count them).
    int changesMade() const { return changes_; }

Q_SIGNALS:
    void changed();

private:
    void poke();

    QFileSystemWatcher* watcher_;
    Timer* quiet_;
    int changes_ = 0;
};

} // namespace lomex
