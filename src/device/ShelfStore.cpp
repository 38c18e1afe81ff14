#include "device/ShelfStore.h"
#include "core/Settings.h"

#include <QDir>
#include <QFileInfo>
#include <QMimeData>

namespace lomex {

namespace {
const QString kKey = QStringLiteral("shelfItems");
} // namespace

ShelfStore::ShelfStore(Settings* settings, Clock*, QObject* parent)
    : QObject(parent), settings_(settings ? settings : &Settings::shared()) {
    const QStringList stored = settings_->stringList(kKey).value_or(QStringList{});
    items_ = existing(stored);
    // Missing files are dropped from the stored list too, so it does not grow stale forever.
    if (items_.size() != stored.size()) store();
    // A list edited by hand is followed, so the next change adds to it instead of undoing it.
    connect(settings_, &Settings::changed, this, [this](const QString& key) {
        if (key != kKey) return;
        QList<QUrl> next = existing(settings_->stringList(kKey).value_or(QStringList{}));
        if (next == items_) return;
        items_ = std::move(next);
        emit itemsChanged();
    });
}

QList<QUrl> ShelfStore::existing(const QStringList& paths) {
    QList<QUrl> out;
    for (const QString& path : paths) {
        if (path.isEmpty() || !QFileInfo::exists(path)) continue;
        const QUrl url = normalized(QUrl::fromLocalFile(path));
        if (!url.isEmpty() && !out.contains(url)) out.append(url);
    }
    return out;
}

void ShelfStore::setItems(const QList<QUrl>& items) {
    QList<QUrl> next;
    for (const QUrl& raw : items) {
        const QUrl url = normalized(raw);
        if (!url.isEmpty() && !next.contains(url)) next.append(url);
    }
    if (next == items_) return;
    items_ = next;
    store();
    emit itemsChanged();
}

QUrl ShelfStore::normalized(const QUrl& url) {
    if (!url.isLocalFile()) return {};
    const QString path = QDir::cleanPath(url.toLocalFile());
    if (!QDir::isAbsolutePath(path)) return {};
    return QUrl::fromLocalFile(path);
}

bool ShelfStore::carriesFiles(const QMimeData* data) {
    if (!data || !data->hasUrls()) return false;
    for (const QUrl& url : data->urls())
        if (!normalized(url).isEmpty()) return true;
    return false;
}

bool ShelfStore::handleDrop(const QMimeData* data) {
    if (!carriesFiles(data)) return false;
    add(data->urls());
    return true;
}

void ShelfStore::add(const QList<QUrl>& urls) {
    bool changed = false;
    for (const QUrl& raw : urls) {
        const QUrl url = normalized(raw);
        if (url.isEmpty() || items_.contains(url)) continue;
        items_.append(url);
        changed = true;
    }
    if (!changed) return;
    store();
    emit itemsChanged();
}

void ShelfStore::remove(const QUrl& url) {
    const QUrl target = normalized(url);
    if (items_.removeAll(target) == 0) return;
    store();
    emit itemsChanged();
}

void ShelfStore::store() {
    QStringList paths;
    paths.reserve(items_.size());
    for (const QUrl& url : items_) paths.append(url.toLocalFile());
    settings_->setStringList(kKey, paths);
}

} // namespace lomex
