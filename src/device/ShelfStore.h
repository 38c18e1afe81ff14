#pragma once
#include "core/LomexError.h"
#include <QHash>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QUrl>
#include <optional>

class QMimeData;

namespace lomex {

class Clock;
class Settings;
class Timer;

// The shelf: references to files the user dropped on the notch, oldest first. Files are never
// copied or moved. Every change is stored under "shelfItems" as the files' paths. At creation
// the stored paths whose files are gone are dropped, a moment later (they are looked up off the
// GUI thread); a file deleted after that stays listed until the user removes it. A change that cannot be stored (the settings file read-only, the
// disk full) stays on the shelf all the same; saveError() says why, and it is stored again at
// the next change and every few seconds until it is. Lives on the GUI thread.
class ShelfStore : public QObject {
    Q_OBJECT
public:
    // A drag of a big folder's contents has no bound of its own, and every change rewrites the
    // whole list into the settings file (about 2 MB at this many paths), so the shelf holds at
    // most this many files; what a drop brings beyond it is left out and counted.
    static constexpr int maxItems = 20000;
    // A list that could not be stored is tried again this often, so a settings file made
    // writable again gets it without another change.
    static constexpr double retrySeconds = 5;

    // settings: nullptr uses Settings::shared(); clock: nullptr uses Clock::current().
    explicit ShelfStore(Settings* settings = nullptr, Clock* clock = nullptr, QObject* parent = nullptr);

    const QList<QUrl>& items() const { return items_; }
    // Where url stands in items(), -1 when it is not there; constant time.
    qsizetype indexOf(const QUrl& url) const;
    // Replaces the whole list (the clear button sets it empty).
    void setItems(const QList<QUrl>& items);

    // A drop of at least this many files is taken once one of its files is found there; the
    // file system is asked about the others off the GUI thread (a few microseconds a file,
    // 20,000 of them a tenth of a second), and they are added when the answer comes.
    static constexpr int checkedAside = 500;

    // Takes the URLs of a drop: the files of this machine that exist are added; anything else
    // (a web link, another machine's file, a path that is not there) is ignored. Returns whether
    // any file of the drop is on the shelf afterwards (for a drop of checkedAside files or more:
    // will be, a moment later), so a drop with nothing to shelve, or one of which nothing fits,
    // is refused.
    bool handleDrop(const QMimeData* data);
    // Whether a drag carries a file of this machine (what the drop zone lights up for).
    static bool carriesFiles(const QMimeData* data);
    // The local path a file URL names: "file:///p", "file://localhost/p" and
    // "file://<this host>/p" all name /p; another host or any other scheme names none.
    static QString localPath(const QUrl& url);

    // Appends each file that exists and is not already on the shelf, in the given order, as
    // far as the bound allows; returns how many were added.
    int add(const QList<QUrl>& urls);
    // Removes every item equal to url; the others keep their order.
    void remove(const QUrl& url);

    // Why the shelf as shown is not stored; none while it is.
    const std::optional<LomexError>& saveError() const { return saveError_; }
    // How many files of the last drop the bound left out (0 after any other change).
    int leftOut() const { return leftOut_; }
    // How many files of the last drop were not found when it was checked aside (0 after any
    // other change).
    int notFound() const { return notFound_; }
    // Whether files of a drop are being checked aside.
    bool isChecking() const { return checking_ > 0; }

Q_SIGNALS:
    void itemsChanged();
    // saveError(), leftOut() or notFound() changed.
    void statusChanged();

private:
    // Takes paths as the whole shelf: one item per file, in order, at most maxItems; returns
    // how many the bound cut.
    int adopt(const QStringList& paths);
    void dropMissing();
    void append(const QString& path);
    void reindex();
    bool dropAside(const QList<QUrl>& urls);
    int appendExisting(const QStringList& paths, int* cut);
    void announce(int leftOut, int notFound = 0);
    void setLeftOut(int n, int notFound = 0);
    void store();
    void saveFailed(const QString& key, const QString& error);

    Settings* settings_;
    Timer* retry_;
    // The same list as URLs, as paths (what is stored) and by path (duplicates are found in
    // constant time: a drop of thousands into thousands stays linear).
    QList<QUrl> items_;
    QStringList paths_;
    QHash<QString, qsizetype> index_;
    std::optional<LomexError> saveError_;
    int leftOut_ = 0;
    int notFound_ = 0;
    int checking_ = 0;
    bool storing_ = false;
};

} // namespace lomex
