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
    // Replaces the watched folders (missing ones are ignored).
    void watch(const QStringList& folders);

Q_SIGNALS:
    void changed();

private:
    void poke();

    QFileSystemWatcher* watcher_;
    Timer* quiet_;
    QStringList folders_;
};

} // namespace lomex
