#include "device/ClipboardStore.h"
#include "core/Async.h"
#include "device/ClipHistory.h"
#include <QFileInfo>
#include "core/Clock.h"
#include "core/Log.h"
#include "core/Settings.h"
#include "platform/Clipboard.h"
#include "core/FileIO.h"
#include "platform/PasteKeys.h"
#include "core/Paths.h"
#include "platform/RunningApps.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QImageWriter>
#include <QCoreApplication>
#include <QFile>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QThreadPool>
#include <QUrl>
#include <QUuid>

namespace lomex {

namespace {

bool isWebLink(const QString& text) {
    const QString t = text.trimmed();
    if (t.isEmpty() || t.size() > 4096 || t.contains(QRegularExpression(QStringLiteral("\\s")))) return false;
    const QUrl url(t, QUrl::StrictMode);
    return url.isValid() && (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https")) &&
           !url.host().isEmpty();
}

QString newID() { return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper(); }

// Shared by every store and never deleted: deleting a pool waits for its work, and a read given
// up must not hold back the store's end or the process's.
QThreadPool* readerPool() {
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool;
        p->setMaxThreadCount(ClipboardStore::maxReadsInFlight);
        return p;
    }();
    return pool;
}

// The same pixels give the same digest, whatever bytes or format they came in. Empty when
// stopped by a quit.
QByteArray pixelDigest(const QImage& image, const std::atomic<bool>& stop) {
    const QImage argb = image.format() == QImage::Format_ARGB32 || image.format() == QImage::Format_RGB32
                            ? image
                            : image.convertToFormat(QImage::Format_ARGB32);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    const qint32 size[2] = {argb.width(), argb.height()};
    hash.addData(QByteArrayView(reinterpret_cast<const char*>(size), sizeof size));
    for (int y = 0; y < argb.height(); ++y) {
        if (stop.load()) return {};
        hash.addData(QByteArrayView(reinterpret_cast<const char*>(argb.constScanLine(y)), qsizetype(argb.width()) * 4));
    }
    return hash.result().toHex();
}

// Takes what is written only while it stays under a limit and no quit came: an encode that
// would come out larger than the image as offered, or that a quit left, fails early instead of
// running to its end.
class BoundedBuffer : public QBuffer {
public:
    BoundedBuffer(QByteArray* out, qint64 limit, const std::atomic<bool>& stop)
        : QBuffer(out), limit_(limit), stop_(stop) {}

protected:
    qint64 writeData(const char* data, qint64 len) override {
        if (size() + len > limit_ || stop_.load()) return -1;
        return QBuffer::writeData(data, len);
    }

private:
    qint64 limit_;
    const std::atomic<bool>& stop_;
};

// The file extension of a raster image by its own header (the reader's check), none for anything else.
QString rasterExtension(const QByteArray& b) {
    const auto header = clipboard::rasterHeader(b);
    if (!header) return {};
    return header->format == "jpeg" ? QStringLiteral("jpg") : QString::fromLatin1(header->format);
}

struct Encoded {
    QByteArray bytes;
    QString extension;
};

// An offered PNG is kept as it is; other formats become PNG only when that is smaller.
Encoded encodeForStore(const QImage& image, const QByteArray& offered, const std::atomic<bool>& stop) {
    const QString offeredAs = rasterExtension(offered);
    if (offeredAs == QLatin1String("png")) return {offered, offeredAs};
    QByteArray png;
    BoundedBuffer buffer(&png, offeredAs.isEmpty() ? std::numeric_limits<qint64>::max() : offered.size() - 1, stop);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (writer.write(image)) return {png, QStringLiteral("png")};
    if (!offeredAs.isEmpty() && !stop.load()) return {offered, offeredAs};
    return {};
}

struct LoadResult {
    QList<Clip> clips;
    bool blocked = false;
};

// Reads the history and tidies its folder, off the GUI thread.
LoadResult loadAndTidy(const QString& folder, int maxClips, const std::atomic<bool>& quitting, qint64 startedMs) {
    using State = cliphistory::Loaded::State;
    cliphistory::Loaded loaded = cliphistory::load(folder, maxClips, quitting);
    const QString path = folder + QLatin1Char('/') + cliphistory::kListFile;
    LoadResult out;
    switch (loaded.state) {
    case State::cancelled: return out;
    case State::unreadable:
    case State::partial:
        // The user's pinned clips may be in the part that did not read: keep the file under a
        // name of its own rather than let the next save replace it.
        if (auto aside = fileio::moveAside(path, path + QStringLiteral(".corrupt"))) {
            log(QStringLiteral("clipboard history could not be read %1; moved to %2, kept %3 clips")
                    .arg(loaded.state == State::partial ? QStringLiteral("whole") : QStringLiteral("at all"), *aside)
                    .arg(loaded.clips.size()));
        } else {
            log("clipboard history could not be read or moved aside; the history is not saved this run");
            out.blocked = true;
            out.clips = std::move(loaded.clips);
            return out;
        }
        if (loaded.state == State::unreadable) return out; // its images may still be wanted
        loaded.changed = true;
        break;
    case State::absent:
    case State::sound: break;
    }
    if (loaded.changed)
        if (auto err = cliphistory::saveList(folder, loaded.clips)) log("clipboard history not saved: " + *err);
    cliphistory::removeOrphans(folder, loaded.clips, startedMs);
    out.clips = std::move(loaded.clips);
    return out;
}
} // namespace

ClipboardStore::ClipboardStore(Clock* clock, Settings* settings, Clipboard* clipboard, RunningApps* apps,
                               PasteKeys* keys, QString folder, QObject* parent)
    : QObject(parent),
      clock_(clock ? clock : Clock::current()),
      settings_(settings ? settings : &Settings::shared()),
      clipboard_(clipboard ? clipboard : Clipboard::current()),
      apps_(apps ? apps : RunningApps::current()),
      keys_(keys ? keys : PasteKeys::current()),
      folder_(folder.isEmpty() ? paths::dataDir() + QStringLiteral("/Clipboard") : std::move(folder)),
      timer_(new Timer(clock_, this)),
      writer_(std::make_unique<QThreadPool>()),
      encoder_(std::make_unique<QThreadPool>()),
      quitting_(std::make_shared<std::atomic<bool>>(false)),
      pending_(std::make_shared<PendingSave>()) {
    writer_->setMaxThreadCount(1);
    encoder_->setMaxThreadCount(1);
    connect(timer_, &Timer::timeout, this, &ClipboardStore::poll);
}

ClipboardStore::~ClipboardStore() {
    quitting_->store(true);
    // Reads in flight are told to stop and get a short while to do so; one that does not is
    // left behind. It uses only the clipboard layer and what it was handed, and its result
    // goes to a watcher that goes with this store.
    for (const auto& read : std::as_const(reads_)) read->cancel->store(true);
    QElapsedTimer waited;
    waited.start();
    if (!reads_.isEmpty()) readerPool()->waitForDone(quitWaitMs);
    // An encode stops at its next write once told; should one still run when the quit's time is
    // up, the quit leaves it. The job holds nothing of ours, and a file it writes later is an
    // orphan removed at the next start.
    if (!encoder_->waitForDone(int(std::max<qint64>(0, quitWaitMs - waited.elapsed())))) (void)encoder_.release();
    writer_->waitForDone();
}

void ClipboardStore::waitForSaves() {
    encoder_->waitForDone();
    QCoreApplication::sendPostedEvents();
    writer_->waitForDone();
}

QString ClipboardStore::imagePath(const Clip& clip) const {
    return clip.imageFile.isEmpty() ? QString() : folder_ + QLatin1Char('/') + clip.imageFile;
}

QString ClipboardStore::fullText(const Clip& clip) const {
    if (clip.textFile.isEmpty()) return clip.text;
    const auto bytes = fileio::readRegularFile(folder_ + QLatin1Char('/') + clip.textFile, 4 * maxTextChars);
    return bytes ? QString::fromUtf8(*bytes) : clip.text;
}

void ClipboardStore::start() {
    seenChange_ = clipboard_->changeCount();
    timer_->start(pollSeconds, true);
    if (loaded_ || loading_) return;
    loading_ = true;
    const QString folder = folder_;
    const qint64 startedMs = QDateTime::currentMSecsSinceEpoch();
    runThen(writer_.get(), this,
            [folder, quitting = quitting_, startedMs] { return loadAndTidy(folder, maxClips, *quitting, startedMs); },
            [this](LoadResult r) { finishLoad(std::move(r.clips), r.blocked); });
}

void ClipboardStore::finishLoad(QList<Clip> clips, bool blocked) {
    loading_ = false;
    loaded_ = true;
    saveBlocked_ = blocked;
    clips_ = std::move(clips);
    if (clearWhenLoaded_) clearUnpinned();
    emit changed();
    // A copy made while the history was read is recorded now rather than at the next tick.
    if (timer_->isActive()) poll();
}

void ClipboardStore::stop() { timer_->stop(); }

void ClipboardStore::poll() {
    settleReads();
    if (!loaded_) return; // a change meanwhile is seen once the history is read
    const quint64 count = clipboard_->changeCount();
    if (count == seenChange_) return;
    if (reads_.size() >= maxReadsInFlight) return; // seen again at the next poll
    seenChange_ = count;
    // Read at each poll: the settings window writes them while the store runs.
    if (!settings_->get(keys::clipboardEnabled)) return;
    QString source;
    if (const auto active = apps_->active()) source = active->desktopID;
    const QStringList excluded = settings_->find(keys::clipExcluded).value_or(QStringList{});
    if (!source.isEmpty() && excluded.contains(source)) return;
    if (!clipboard_->readsOffThread()) {
        accept(clipboard_->read(limits()), source);
        return;
    }
    auto read = std::make_shared<Read>();
    read->deadline = clock_->now().addMSecs(qint64(readTimeoutSeconds * 1000));
    read->source = source;
    read->cancel = std::make_shared<std::atomic<bool>>(false);
    reads_.append(read);
    ClipboardLimits asked = limits();
    asked.cancel = read->cancel;
    Clipboard* clipboard = clipboard_;
    read->future = runThen(readerPool(), this, [clipboard, asked] { return clipboard->read(asked); },
                           [this](const ClipboardContent&) { settleReads(); });
}

void ClipboardStore::settleReads() {
    const QDateTime now = clock_->now();
    while (!reads_.isEmpty()) {
        const std::shared_ptr<Read> first = reads_.first();
        // A read that is done counts, whether or not its news has come yet.
        if (first->future.isFinished()) {
            reads_.removeFirst();
            accept(first->future.result(), first->source);
        } else if (now >= first->deadline) {
            first->cancel->store(true);
            reads_.removeFirst();
            log(QStringLiteral("clipboard read given up after %1 s").arg(readTimeoutSeconds));
        } else {
            return;
        }
    }
}

void ClipboardStore::accept(const ClipboardContent& content, const QString& source) {
    if (content.secret || content.transient || content.fromHistory || content.isEmpty()) return;
    record(content, source);
}

void ClipboardStore::record(const ClipboardContent& content, const QString& source) {
    Clip clip;
    clip.id = newID();
    clip.sourceBundleID = source;
    clip.date = clock_->now();

    QStringList files;
    for (const QUrl& url : content.urls)
        if (url.isLocalFile()) files.append(url.toLocalFile());
    if (!files.isEmpty() && files.size() == content.urls.size()) {
        if (files.join(QLatin1Char('\n')).size() > maxFileListChars) return;
        clip.kind = Clip::Kind::file;
        clip.filePaths = files;
        clip.text = files.join(QLatin1Char('\n'));
        insert(std::move(clip));
        return;
    }
    if (!content.image.isNull()) {
        // Hashing and encoding a large image takes a while: off the GUI thread, and the clip
        // appears once its file exists.
        clip.kind = Clip::Kind::image;
        QPointer<ClipboardStore> self(this);
        encoder_->start([self, clip, image = content.image, offered = content.imageData,
                         quitting = quitting_]() mutable {
            if (quitting->load()) return;
            clip.digest = pixelDigest(image, *quitting);
            if (clip.digest.isEmpty()) return;
            postToGui([self, clip, image, offered] {
                if (self) self->storeImage(clip, image, offered);
            });
        });
        return;
    }
    if (content.text.trimmed().isEmpty() || content.text.size() > maxTextChars) return;
    clip.kind = isWebLink(content.text) ? Clip::Kind::link : Clip::Kind::text;
    clip.text = content.text;
    if (cliphistory::needsOwnFile(content.text)) {
        // The list holds its head; the whole text goes to a file of its own, written once.
        const QByteArray utf8 = content.text.toUtf8();
        clip.text = cliphistory::head(content.text);
        clip.digest = cliphistory::digestOf(utf8);
        clip.size = utf8.size();
        if (indexOfSame(clip) < 0) {
            clip.textFile = cliphistory::newFileName(QStringLiteral("txt"));
            writer_->start([path = folder_ + QLatin1Char('/') + clip.textFile, folder = folder_, utf8] {
                paths::ensureDir(folder);
                if (auto err = cliphistory::writeFile(path, utf8)) log("clipboard text not saved: " + *err);
            });
        }
    }
    insert(std::move(clip));
}

void ClipboardStore::storeImage(Clip clip, const QImage& image, const QByteArray& offered) {
    // The same image again moves the earlier clip up; one still being encoded is stored once.
    if (indexOfSame(clip) >= 0) {
        insert(std::move(clip));
        return;
    }
    if (encoding_.contains(clip.digest)) return;
    encoding_.insert(clip.digest);
    QPointer<ClipboardStore> self(this);
    encoder_->start([self, clip, image, offered, folder = folder_, quitting = quitting_]() mutable {
        bool stored = false;
        if (!quitting->load()) {
            const Encoded encoded = encodeForStore(image, offered, *quitting);
            clip.imageFile = clip.id + QLatin1Char('.') + encoded.extension;
            clip.size = encoded.bytes.size();
            if (!encoded.bytes.isEmpty() && !quitting->load()) {
                paths::ensureDir(folder);
                const auto err = cliphistory::writeFile(folder + QLatin1Char('/') + clip.imageFile, encoded.bytes);
                if (err) log("clipboard image not saved: " + *err);
                stored = !err;
            }
        }
        if (quitting->load()) return;
        postToGui([self, clip, stored] {
            if (!self) return;
            self->encoding_.remove(clip.digest);
            if (stored) self->insert(clip);
        });
    });
}

qsizetype ClipboardStore::indexOfSame(const Clip& clip) const {
    for (qsizetype i = 0; i < clips_.size(); ++i) {
        const Clip& old = clips_[i];
        if (old.kind != clip.kind) continue;
        const bool same = clip.kind == Clip::Kind::image || !clip.digest.isEmpty()
                              ? !clip.digest.isEmpty() && old.digest == clip.digest
                              : old.digest.isEmpty() && old.text == clip.text && old.filePaths == clip.filePaths;
        if (same) return i;
    }
    return -1;
}

void ClipboardStore::insert(Clip clip) {
    // The same text, files or image again move the earlier clip to the top, keeping its pin
    // and its file.
    if (const qsizetype i = indexOfSame(clip); i >= 0) {
        const Clip& old = clips_[i];
        clip.id = old.id;
        clip.pinned = old.pinned;
        clip.imageFile = old.imageFile;
        clip.textFile = old.textFile;
        clip.size = old.size;
        clips_.removeAt(i);
    }
    clips_.prepend(std::move(clip));
    deleteFiles(trim());
    save();
    emit changed();
}

QStringList ClipboardStore::trim() {
    QStringList files;
    auto drop = [&](qsizetype i) {
        for (const QString& f : {clips_[i].imageFile, clips_[i].textFile})
            if (!f.isEmpty()) files.append(f);
        clips_.removeAt(i);
    };
    for (qsizetype i = clips_.size() - 1; i >= 0 && clips_.size() > maxClips; --i)
        if (!clips_[i].pinned) drop(i);
    qint64 imageBytes = 0;
    for (const Clip& c : std::as_const(clips_))
        if (c.kind == Clip::Kind::image) imageBytes += c.size;
    for (qsizetype i = clips_.size() - 1; i >= 0 && imageBytes > maxStoredImageBytes; --i) {
        if (clips_[i].pinned || clips_[i].kind != Clip::Kind::image) continue;
        imageBytes -= clips_[i].size;
        drop(i);
    }
    return files;
}

void ClipboardStore::clearUnpinned() {
    if (!loaded_) {
        clearWhenLoaded_ = true;
        return;
    }
    clearWhenLoaded_ = false;
    QStringList files;
    QList<Clip> kept;
    for (const Clip& c : std::as_const(clips_)) {
        if (c.pinned) kept.append(c);
        else
            for (const QString& f : {c.imageFile, c.textFile})
                if (!f.isEmpty()) files.append(f);
    }
    clips_ = kept;
    deleteFiles(files);
    save();
    emit changed();
}

void ClipboardStore::setPinned(const QString& id, bool pinned) {
    for (Clip& c : clips_) {
        if (c.id != id || c.pinned == pinned) continue;
        c.pinned = pinned;
        save();
        emit changed();
        return;
    }
}

void ClipboardStore::deleteFiles(const QStringList& files) {
    if (files.isEmpty()) return;
    const QString folder = folder_;
    writer_->start([folder, files] {
        for (const QString& f : files) QFile::remove(folder + QLatin1Char('/') + f);
    });
}

void ClipboardStore::save() {
    // Before the history is read, a save would replace it with what little is known.
    if (saveBlocked_ || !loaded_) return;
    // Saves coalesce: a burst of copies queues one write, which takes the newest list.
    const bool queued = [&] {
        QMutexLocker lock(&pending_->mutex);
        const bool was = pending_->clips.has_value();
        pending_->clips = clips_;
        return was;
    }();
    if (queued) return;
    const QString folder = folder_;
    writer_->start([pending = pending_, folder] {
        QList<Clip> snapshot;
        {
            QMutexLocker lock(&pending->mutex);
            snapshot = std::move(*pending->clips);
            pending->clips.reset();
        }
        if (auto err = cliphistory::saveList(folder, snapshot)) log("clipboard history not saved: " + *err);
    });
}

bool ClipboardStore::paste(const QList<Clip>& chosen) {
    if (chosen.isEmpty()) return false;
    ClipboardContent content;
    QStringList texts;
    for (const Clip& c : chosen) {
        switch (c.kind) {
        case Clip::Kind::text:
        case Clip::Kind::link: texts.append(fullText(c)); break;
        case Clip::Kind::file:
            for (const QString& p : c.filePaths) content.urls.append(QUrl::fromLocalFile(p));
            texts.append(c.text);
            break;
        case Clip::Kind::image:
            if (chosen.size() == 1) content.image = QImage(imagePath(c));
            break;
        }
    }
    content.text = texts.join(QLatin1Char('\n'));
    // Our own copy is not a new clip, whenever the clipboard reports the change.
    content.fromHistory = true;
    clipboard_->write(content);
    seenChange_ = clipboard_->changeCount();
    if (!settings_->get(keys::pasteDirectly) || !keys_->trusted()) return false;
    PasteKeys* keys = keys_;
    Timer::singleShot(clock_, pasteDelaySeconds, this, [keys] { keys->sendPaste(); });
    return true;
}

} // namespace lomex
