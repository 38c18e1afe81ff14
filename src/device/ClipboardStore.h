#pragma once
#include "device/Clip.h"
#include "platform/Clipboard.h"
#include <QDateTime>
#include <QFuture>
#include <QImage>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <atomic>
#include <memory>
#include <optional>

class QThreadPool;

namespace lomex {

class Clock;
class PasteKeys;
class RunningApps;
class Settings;
class Timer;

// The clipboard history: polls the clipboard every 0.5 s while "clipboardEnabled" is on and
// records each new text, link, image or file list, newest first, up to 500 clips (pinned ones
// are never pushed out). Copies marked secret or transient, and copies made while an
// application listed in "clipExcluded" is active, are never recorded.
// The history lives in <data>/Clipboard (see ClipHistory.h for its files): read at start and
// written on a worker thread one job at a time, so files are saved in the order they changed.
// Images are encoded on a thread of their own, which a quit does not wait for.
// Lives on the GUI thread.
class ClipboardStore : public QObject {
    Q_OBJECT
public:
    static constexpr int maxClips = 500;
    static constexpr double pollSeconds = 0.5;
    static constexpr double pasteDelaySeconds = 0.12;
    // Any program can put any amount on the clipboard: longer texts and larger images are not
    // recorded, and are not even fetched when the owner says how large they are.
    static constexpr qsizetype maxTextChars = 256 * 1024;
    // A list of copied files is kept in the history's list itself: longer ones are not recorded.
    static constexpr qsizetype maxFileListChars = 64 * 1024;
    static constexpr qint64 maxImageBytes = 32ll << 20; // as offered (PNG, JPEG, …)
    static constexpr qint64 maxImagePixels = 40'000'000;
    // What a read may fetch; a text of maxTextChars takes at most 3 bytes a unit in UTF-8.
    static ClipboardLimits limits() { return {3 * maxTextChars, maxImageBytes, maxImagePixels}; }
    // All stored image files together; the oldest unpinned images go first beyond it.
    static constexpr qint64 maxStoredImageBytes = 512ll << 20;
    // A read (the owner's answer and the image's decode) still running after this is given up:
    // what it brings later is dropped, and the copies after it are recorded without waiting.
    static constexpr double readTimeoutSeconds = 4.0;
    // Reads under way at once; a change seen while this many run is read at a later poll.
    static constexpr int maxReadsInFlight = 3;
    // The store's end waits this long for its clipboard work, then leaves it behind.
    static constexpr int quitWaitMs = 1000;

    // Null arguments use the shared instances and the current platform layers; folder empty
    // uses <data>/Clipboard.
    ClipboardStore(Clock* clock = nullptr, Settings* settings = nullptr, Clipboard* clipboard = nullptr,
                   RunningApps* apps = nullptr, PasteKeys* keys = nullptr, QString folder = {},
                   QObject* parent = nullptr);
    ~ClipboardStore() override;

    // Starts reading the history off the GUI thread, and the poll, which records nothing until
    // the history is read. The clipboard's content at that moment counts as seen, so it is not
    // recorded again at every launch.
    void start();
    bool loaded() const { return loaded_; }
    void stop();

    const QList<Clip>& clips() const { return clips_; }
    QString folder() const { return folder_; }
    QString imagePath(const Clip& clip) const;
    // A clip's whole text; a long text is read from its file.
    QString fullText(const Clip& clip) const;

    // Removes every unpinned clip and its image file; pinned clips stay. Saves.
    void clearUnpinned();
    void setPinned(const QString& id, bool pinned);
    // Puts the clips on the clipboard (texts one a line, files as a URI list, a single image
    // as an image), then presses Ctrl+V 0.12 s later when "pasteDirectly" is on and the
    // display allows synthetic keys. Returns whether that paste was scheduled.
    bool paste(const QList<Clip>& chosen);

    // Tells observers the store changed; the clipboard page sends it after editing
    // "clipExcluded", which the store reads from the settings at each poll and keeps no copy of.
    void notifyChanged() { emit changed(); }

    // Waits until every queued encode and file write is done (tests).
    void waitForSaves();
    // A clipboard read is under way on a reader thread, not yet recorded or given up (tests).
    bool reading() const { return !reads_.isEmpty(); }

Q_SIGNALS:
    void changed();

private:
    void poll();
    // Records the finished reads in the order of their copies; a read past its time is given up.
    void settleReads();
    void accept(const ClipboardContent& content, const QString& source);
    void record(const ClipboardContent& content, const QString& source);
    void storeImage(Clip clip, const QImage& image, const QByteArray& offered);
    void insert(Clip clip);
    qsizetype indexOfSame(const Clip& clip) const;
    void finishLoad(QList<Clip> clips, bool blocked);
    void save();
    void deleteFiles(const QStringList& files);
    // Drops the oldest unpinned clips beyond maxClips and the oldest unpinned images beyond
    // maxStoredImageBytes; returns their files.
    QStringList trim();

    Clock* clock_;
    Settings* settings_;
    Clipboard* clipboard_;
    RunningApps* apps_;
    PasteKeys* keys_;
    QString folder_;
    Timer* timer_;
    std::unique_ptr<QThreadPool> writer_;
    std::unique_ptr<QThreadPool> encoder_;
    // Set when the store goes: a history still being read and encodes not yet begun stop.
    std::shared_ptr<std::atomic<bool>> quitting_;
    // Images being encoded, by digest: the same image copied again meanwhile is not stored twice.
    QSet<QByteArray> encoding_;
    // Reads wait for the clipboard's owner: never on the GUI thread, on a pool that outlives
    // the store (a read given up is left running, not waited for).
    struct Read {
        QDateTime deadline;
        QString source;
        std::shared_ptr<std::atomic<bool>> cancel;
        QFuture<ClipboardContent> future;
    };
    QList<std::shared_ptr<Read>> reads_; // oldest copy first
    struct PendingSave {
        QMutex mutex;
        std::optional<QList<Clip>> clips;
    };
    std::shared_ptr<PendingSave> pending_;
    QList<Clip> clips_;
    quint64 seenChange_ = 0;
    bool loaded_ = false;
    bool loading_ = false;
    bool clearWhenLoaded_ = false;
    // A history file that could be neither read nor moved aside is never written over.
    bool saveBlocked_ = false;
};

} // namespace lomex
