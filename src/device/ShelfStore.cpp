#include "device/ShelfStore.h"
#include "core/Async.h"
#include "core/Clock.h"
#include "core/Settings.h"

#include <QDir>
#include <QFileInfo>
#include <QMimeData>
#include <QSet>
#include <QSysInfo>

namespace lomex {

namespace {
// One spelling per path, so "/a//b" and "/a/b" are the same file; none for a relative path.
QString cleanAbsolute(const QString& path) {
    if (path.isEmpty()) return {};
    QString clean = QDir::cleanPath(path);
    return QDir::isAbsolutePath(clean) ? clean : QString();
}
} // namespace

ShelfStore::ShelfStore(Settings* settings, Clock* clock, QObject* parent)
    : QObject(parent), settings_(settings ? settings : &Settings::shared()), retry_(new Timer(clock, this)) {
    const QStringList stored = settings_->get(keys::shelfItems);
    leftOut_ = adopt(stored);
    if (paths_ != stored) store();
    dropMissing();
    connect(retry_, &Timer::timeout, this, &ShelfStore::store);
    connect(settings_, &Settings::saveFailed, this, &ShelfStore::saveFailed);
    // A list edited by hand is followed, so the next change adds to it instead of undoing it;
    // a file missing from it shows as missing, as any shelved file that went away. A list not
    // stored yet wins over the file.
    connect(settings_, &Settings::changed, this, [this](const QString& key) {
        if (key != keys::shelfItems || storing_ || saveError_) return;
        const QStringList paths = settings_->get(keys::shelfItems);
        if (paths == paths_) return;
        announce(adopt(paths));
    });
}

// The path of a file URL of this machine (no host, "localhost" or hostName), else none.
static QString localPathOn(const QUrl& url, const QString& hostName) {
    if (url.scheme().compare(QLatin1String("file"), Qt::CaseInsensitive) != 0) return {};
    const QString host = url.host();
    if (!host.isEmpty() && host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) != 0 &&
        host.compare(hostName, Qt::CaseInsensitive) != 0)
        return {};
    return cleanAbsolute(url.path(QUrl::FullyDecoded));
}

QString ShelfStore::localPath(const QUrl& url) {
    return localPathOn(url, QSysInfo::machineHostName());
}

// Asking the file system about thousands of files can take seconds when they are not cached
// (right after login) and forever on a hung network mount: asked off the GUI thread, on the
// pool for work that may hang. Missing files are dropped from the stored list too, so it does
// not grow stale forever.
void ShelfStore::dropMissing() {
    if (paths_.isEmpty()) return;
    runThen(slowPool(), this,
            [paths = paths_] {
                QSet<QString> missing;
                for (const QString& path : paths)
                    if (!QFileInfo::exists(path)) missing.insert(path);
                return missing;
            },
            [this](const QSet<QString>& missing) {
                if (missing.isEmpty()) return;
                QStringList kept;
                kept.reserve(paths_.size());
                for (const QString& path : std::as_const(paths_))
                    if (!missing.contains(path)) kept << path;
                if (kept.size() == paths_.size()) return;
                adopt(kept);
                store();
                emit itemsChanged();
            });
}

int ShelfStore::adopt(const QStringList& paths) {
    items_.clear();
    paths_.clear();
    index_.clear();
    const qsizetype room = std::min<qsizetype>(paths.size(), maxItems);
    items_.reserve(room);
    paths_.reserve(room);
    index_.reserve(room);
    int cut = 0;
    for (const QString& raw : paths) {
        const QString path = cleanAbsolute(raw);
        if (path.isEmpty() || index_.contains(path)) continue;
        if (paths_.size() >= maxItems) {
            ++cut;
            continue;
        }
        append(path);
    }
    return cut;
}

void ShelfStore::append(const QString& path) {
    index_.insert(path, paths_.size());
    paths_.append(path);
    items_.append(QUrl::fromLocalFile(path));
}

void ShelfStore::reindex() {
    index_.clear();
    index_.reserve(paths_.size());
    for (qsizetype i = 0; i < paths_.size(); ++i) index_.insert(paths_[i], i);
}

qsizetype ShelfStore::indexOf(const QUrl& url) const {
    const QString path = localPath(url);
    return path.isEmpty() ? -1 : index_.value(path, -1);
}

void ShelfStore::setItems(const QList<QUrl>& items) {
    QStringList paths;
    paths.reserve(items.size());
    for (const QUrl& url : items) paths << localPath(url);
    const QStringList before = paths_;
    const int cut = adopt(paths);
    if (paths_ == before) {
        setLeftOut(cut);
        return;
    }
    store();
    announce(cut);
}

bool ShelfStore::carriesFiles(const QMimeData* data) {
    if (!data || !data->hasUrls()) return false;
    for (const QUrl& url : data->urls())
        if (!localPath(url).isEmpty()) return true;
    return false;
}

bool ShelfStore::handleDrop(const QMimeData* data) {
    if (!data || !data->hasUrls()) return false;
    const QList<QUrl> urls = data->urls();
    if (urls.size() >= checkedAside) return dropAside(urls);
    add(urls);
    // Taken when any of its files is on the shelf now: a file already there counts, one left
    // out by the bound does not.
    for (const QUrl& url : urls)
        if (indexOf(url) >= 0) return true;
    return false;
}

bool ShelfStore::dropAside(const QList<QUrl>& urls) {
    const QString hostName = QSysInfo::machineHostName();
    QStringList paths;
    paths.reserve(urls.size());
    bool anyHere = false;
    for (const QUrl& url : urls) {
        const QString path = localPathOn(url, hostName);
        if (path.isEmpty()) continue;
        if (index_.contains(path)) anyHere = true;
        else paths << path;
    }
    // Taken as a small drop is: when one of its files is on the shelf afterwards. The first that
    // exists (most often the first asked) is enough to know; a drop of which nothing fits, or
    // nothing exists, is refused here, as then every file has been asked.
    const bool room = paths_.size() < maxItems;
    const auto found = room ? std::find_if(paths.cbegin(), paths.cend(), [](const QString& p) { return QFileInfo::exists(p); })
                            : paths.cend();
    if (found == paths.cend()) {
        setLeftOut(room ? 0 : int(paths.size()));
        return anyHere;
    }
    ++checking_;
    runThen(slowPool(), this,
            [paths, first = found - paths.cbegin()] {
                QStringList there;
                there.reserve(paths.size());
                for (qsizetype i = 0; i < paths.size(); ++i)
                    if (i == first || QFileInfo::exists(paths[i])) there << paths[i];
                return std::pair{there, int(paths.size() - there.size())};
            },
            [this](const std::pair<QStringList, int>& result) {
                --checking_;
                int cut = 0;
                if (appendExisting(result.first, &cut) > 0) {
                    store();
                    announce(cut, result.second);
                } else {
                    setLeftOut(cut, result.second);
                }
            });
    return true;
}

// Appends paths that exist and are not here yet, in order, as far as the bound allows; counts
// into cut those it left out.
int ShelfStore::appendExisting(const QStringList& paths, int* cut) {
    int added = 0;
    for (const QString& path : paths) {
        if (index_.contains(path)) continue;
        if (paths_.size() >= maxItems) {
            ++*cut;
            continue;
        }
        append(path);
        ++added;
    }
    return added;
}

int ShelfStore::add(const QList<QUrl>& urls) {
    int cut = 0;
    QStringList there;
    for (const QUrl& url : urls) {
        const QString path = localPath(url);
        // Another spelling of a file already here is skipped before the file system is asked.
        if (path.isEmpty() || index_.contains(path) || !QFileInfo::exists(path)) continue;
        there << path;
    }
    const int added = appendExisting(there, &cut);
    if (added == 0) {
        setLeftOut(cut);
        return 0;
    }
    store();
    announce(cut);
    return added;
}

void ShelfStore::remove(const QUrl& url) {
    const qsizetype at = indexOf(url);
    if (at < 0) return;
    items_.removeAt(at);
    paths_.removeAt(at);
    reindex();
    store();
    announce(0);
}

void ShelfStore::announce(int leftOut, int notFound) {
    emit itemsChanged();
    setLeftOut(leftOut, notFound);
}

void ShelfStore::setLeftOut(int n, int notFound) {
    if (leftOut_ == n && notFound_ == notFound) return;
    leftOut_ = n;
    notFound_ = notFound;
    emit statusChanged();
}

void ShelfStore::store() {
    retry_->stop();
    storing_ = true;
    const auto error = settings_->set(keys::shelfItems, paths_);
    storing_ = false;
    // A failure arrives through saveFailed (at once or, from a writer thread, a moment later).
    if (error || !saveError_) return;
    saveError_.reset();
    emit statusChanged();
}

void ShelfStore::saveFailed(const QString& key, const QString& error) {
    if (key != keys::shelfItems) return;
    // The error as data where the settings keep it (a read-only file is worded by the view).
    const std::optional<LomexError>& last = settings_->lastError();
    saveError_ = last ? *last : LomexError{QStringLiteral("Lomex"), 0, error};
    retry_->start(retrySeconds);
    emit statusChanged();
}

} // namespace lomex
