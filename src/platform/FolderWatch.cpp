#include "platform/FolderWatch.h"
#include "core/Clock.h"

#include <QFileInfo>
#include <QFileSystemWatcher>

namespace lomex {

FolderWatch::FolderWatch(Clock* clock, QObject* parent)
    : QObject(parent), watcher_(new QFileSystemWatcher(this)), quiet_(new Timer(clock, this)) {
    connect(watcher_, &QFileSystemWatcher::directoryChanged, this, &FolderWatch::poke);
    connect(watcher_, &QFileSystemWatcher::fileChanged, this, &FolderWatch::poke);
    connect(quiet_, &Timer::timeout, this, &FolderWatch::changed);
}

void FolderWatch::watch(const QStringList& folders) {
    // Asked of the watcher itself: a folder deleted meanwhile has left its list, and is watched
    // again when it comes back.
    const QStringList live = watcher_->directories();
    const QSet<QString> watched(live.begin(), live.end());
    const QSet<QString> wanted(folders.begin(), folders.end());
    QStringList gone, added;
    for (const QString& f : live)
        if (!wanted.contains(f)) gone << f;
    for (const QString& f : folders)
        if (!watched.contains(f) && QFileInfo(f).isDir()) added << f;
    if (!gone.isEmpty()) watcher_->removePaths(gone);
    if (!added.isEmpty()) watcher_->addPaths(added);
    changes_ += int(gone.size() + added.size());
}

void FolderWatch::poke() { quiet_->start(quietSeconds); }

} // namespace lomex
