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
    QStringList existing;
    for (const QString& f : folders)
        if (QFileInfo(f).isDir()) existing << f;
    if (existing == folders_) return;
    if (!watcher_->directories().isEmpty()) watcher_->removePaths(watcher_->directories());
    folders_ = existing;
    if (!existing.isEmpty()) watcher_->addPaths(existing);
}

void FolderWatch::poke() { quiet_->start(quietSeconds); }

} // namespace lomex
