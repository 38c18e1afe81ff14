#pragma once
#include "platform/CalendarStore.h"
#include "platform/IcsItems.h"

#include <QHash>
#include <QPointer>
#include <QThreadPool>
#include <memory>

namespace lomex {

class Clock;
class FolderWatch;

// The calendars as vdir folders, the layout calendar sync tools (vdirsyncer, pimsync, DAVx5's
// export) keep: the root holds one folder per calendar or reminder list; a folder holds one
// .ics file per item and optionally "displayname" and "color" files. A folder with events is a
// calendar, one with tasks a reminder list (it can be both); an empty folder is either.
//
// Reading: a background scan lists the folders and parses only files whose size or modification
// time changed since the last scan; the GUI thread answers queries from the calendars the scan
// has finished. Broken, oversized or unreadable files are skipped and logged once. Writing: new
// items are "<uid>.ics", written atomically; completing a task edits only its completion lines
// in place; either way only the file written is read again on the caller's thread.
class VdirCalendarStore : public CalendarStore {
    Q_OBJECT
public:
    // Files larger than this are not read: an item with a huge attachment must not stall a scan.
    static constexpr qint64 maxFileBytes = 4 << 20;
    // Items read from one root at most; the rest are skipped (and logged).
    static constexpr int maxItems = 50000;
    // Rule steps one scan may spend on the recurrences it reads (some seconds, off the GUI
    // thread), over and above the bound of each series (ics::maxRuleSteps): a folder of files
    // made to step for minutes must not keep a scan going for ever. The series past it are
    // skipped, logged and counted for the settings page.
    static constexpr qint64 maxScanRuleSteps = 8000000;
    // The last part of it is kept for series that need few steps, as ordinary ones do.
    static constexpr qint64 cheapRuleStepsReserve = 1000000;
    static constexpr qint64 cheapSeriesSteps = 1000;
    // A scan of many folders hands the GUI thread what it has read at most this often.
    static constexpr int publishMs = 100;

    explicit VdirCalendarStore(QString root = defaultRoot(), Clock* clock = nullptr, QObject* parent = nullptr);
    ~VdirCalendarStore() override;

    // $LOMEX_CALENDAR_DIR, else $XDG_DATA_HOME/Lomex/calendars.
    static QString defaultRoot();

    bool hasAccess(Entity entity) const override;
    void requestAccess(const QString& calendarTitle, const QString& listTitle) override;
    QString location() const override { return root_; }

    QList<CalendarInfo> calendars(Entity entity) const override;
    std::optional<CalendarInfo> defaultCalendar(Entity entity) const override;
    QList<CalendarEvent> events(const QDateTime& from, const QDateTime& to) const override;
    void fetchEvents(const QDateTime& from, const QDateTime& to, QObject* context,
                     std::function<void(QList<CalendarEvent>)> done) override;
    void fetchIncompleteTasks(const QDateTime& dueBefore, QObject* context,
                              std::function<void(QList<CalendarTask>)> done) override;

    std::optional<LomexError> saveEvent(const NewEvent& event) override;
    std::optional<LomexError> saveTask(const NewTask& task) override;
    std::optional<LomexError> completeTask(const CalendarTask& task, const QDateTime& now) override;

    void lookForChanges() override;
    // Scans on the calling thread and takes the result at once (tests, benchmarks).
    void scanNow();
    bool isScanning() const { return scanning_; }
    // Files parsed by all scans so far (tests check the cache).
    int parsedFiles() const;
    // What the last finished scan spent on rules, and the series it skipped for want of steps.
    qint64 ruleStepsOfLastScan() const { return snapshot_->ruleSteps; }
    int skippedSeriesOfLastScan() const { return snapshot_->skipped.count; }
    SkippedSeries skippedSeries() const override { return snapshot_->skipped; }
    // Snapshots taken on the GUI thread so far (tests count the publishing).
    int snapshotsTaken() const { return taken_; }
    FolderWatch* folderWatch() const { return watch_; }

    struct Item {
        QString path;
        qint64 size = 0;
        qint64 mtimeNs = 0;
        quint64 inode = 0, device = 0; // a file replaced by another of the same size and time is read again
        std::shared_ptr<const ics::ParsedFile> parsed; // null: not readable as iCalendar
    };
    struct Folder {
        CalendarInfo info;
        QString path;
        QList<Item> items;
        bool hasEvents = false;
        bool hasTasks = false;
    };
    struct Snapshot {
        QList<Folder> folders;
        int parsed = 0; // files parsed to make this snapshot
        qint64 ruleSteps = 0;
        SkippedSeries skipped;
    };

private:
    using Publish = std::function<void(std::shared_ptr<const Snapshot>)>;
    // The occurrences of every series of a snapshot over [from, to); on the reader only.
    static QList<CalendarEvent> expand(const Snapshot& snapshot, const QDateTime& from, const QDateTime& to);
    static QList<CalendarTask> incompleteTasks(const Snapshot& snapshot, const QDateTime& dueBefore);
    // Reads the root; when publish is given, hands it each calendar as soon as it is finished
    // (with the calendars still to come as the previous snapshot had them).
    static std::shared_ptr<const Snapshot> scan(const QString& root, std::shared_ptr<const Snapshot> previous,
                                                const Publish& publish = {});
    void take(std::shared_ptr<const Snapshot> next);
    void watchFolders();
    const Folder* folder(const QString& id) const;
    std::optional<LomexError> writeNew(const QString& calendarId, const QString& uid, const QByteArray& ics);
    void reread(const QString& path);

    QString root_;
    Clock* clock_;
    std::shared_ptr<const Snapshot> snapshot_;
    bool scanning_ = false;
    bool scanAgain_ = false;
    quint64 writes_ = 0; // our own writes; a scan that started before one is stale
    int parsedTotal_ = 0;
    int taken_ = 0;
    FolderWatch* watch_ = nullptr;
    // Published snapshots share their parsed files, whose rules and zones keep caches as they are
    // asked: every question about them is answered here, one at a time.
    mutable QThreadPool reader_;
};

} // namespace lomex
