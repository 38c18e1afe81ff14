#pragma once
#include <QList>
#include "core/LomexError.h"
#include <QObject>
#include <optional>
#include <QStringList>
#include <QUrl>

class QMimeData;

namespace lomex {

class Clock;
class Settings;

// The shelf: references to files the user dropped on the notch, oldest first. Files are never
// copied or moved. Every change is stored under "shelfItems" as the files' paths; at creation
// only stored paths whose files still exist are kept. Lives on the GUI thread.
class ShelfStore : public QObject {
    Q_OBJECT
public:
    static constexpr int maxItems = 20000;
    static constexpr double retrySeconds = 5;
    // settings: nullptr uses Settings::shared().
    explicit ShelfStore(Settings* settings = nullptr, Clock* clock = nullptr, QObject* parent = nullptr);
    const std::optional<LomexError>& saveError() const { return saveError_; }
    int leftOut() const { return 0; }

    const QList<QUrl>& items() const { return items_; }
    // Replaces the whole list (the clear button sets it empty).
    void setItems(const QList<QUrl>& items);

    // Takes the URLs of a drop. Local files are added; anything else is ignored. Returns whether
    // the drop carried at least one local file, so a drop of web links alone is refused.
    bool handleDrop(const QMimeData* data);
    // Whether a drag carries a local file (what the drop zone lights up for).
    static bool carriesFiles(const QMimeData* data);

    // Appends each URL not already on the shelf, in the given order.
    void add(const QList<QUrl>& urls);
    // Removes every item equal to url; the others keep their order.
    void remove(const QUrl& url);

Q_SIGNALS:
    void itemsChanged();
    void statusChanged();

private:
    // One spelling per file, so "/a//b" and "/a/b" are the same item.
    static QUrl normalized(const QUrl& url);
    // The stored paths whose files exist, one item per file.
    static QList<QUrl> existing(const QStringList& paths);
    void store();

    Settings* settings_;
    QList<QUrl> items_;
    std::optional<LomexError> saveError_;
};

} // namespace lomex
