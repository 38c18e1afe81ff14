#include "device/ClipboardStore.h"
#include "core/Async.h"
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
#include <QDir>
#include <QCoreApplication>
#include <QFile>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QThreadPool>
#include <QUrl>
#include <QUuid>

namespace lomex {

namespace {
const QString kHistoryFile = QStringLiteral("clips.json");

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
      pending_(std::make_shared<PendingSave>()) {
    writer_->setMaxThreadCount(1);
    connect(timer_, &Timer::timeout, this, &ClipboardStore::poll);
}

ClipboardStore::~ClipboardStore() {
    // Reads in flight are told to stop and get a short while to do so; one that does not is
    // left behind. It uses only the clipboard layer and what it was handed, and its result
    // goes to a watcher that goes with this store.
    for (const auto& read : std::as_const(reads_)) read->cancel->store(true);
    if (!reads_.isEmpty()) readerPool()->waitForDone(quitWaitMs);
    waitForSaves();
}

void ClipboardStore::waitForSaves() { writer_->waitForDone(); }

QString ClipboardStore::imagePath(const Clip& clip) const {
    return clip.imageFile.isEmpty() ? QString() : folder_ + QLatin1Char('/') + clip.imageFile;
}

void ClipboardStore::start() {
    if (!loaded_) load();
    seenChange_ = clipboard_->changeCount();
    timer_->start(pollSeconds, true);
}

void ClipboardStore::stop() { timer_->stop(); }

void ClipboardStore::load() {
    loaded_ = true;
    const QString path = folder_ + QLatin1Char('/') + kHistoryFile;
    if (!QFileInfo::exists(path)) return;
    QString error;
    const QFileInfo info(path);
    std::optional<QByteArray> bytes;
    if (info.size() <= maxHistoryBytes) bytes = fileio::readRegularFile(path, maxHistoryBytes, &error);
    const nlohmann::json j = bytes ? nlohmann::json::parse(bytes->constData(), bytes->constData() + bytes->size(),
                                                           nullptr, false)
                                   : nlohmann::json();
    if (!j.is_array()) {
        // The user's pinned clips may be in there: keep the file under a name of its own rather
        // than let the next save replace it.
        if (auto aside = fileio::moveAside(path, path + QStringLiteral(".corrupt"))) {
            log("clipboard history could not be read; moved to " + *aside + ", starting empty");
        } else {
            log("clipboard history could not be read or moved aside; the history is not saved this run");
            saveBlocked_ = true;
        }
        return;
    }
    for (const auto& element : j) {
        auto clip = Clip::fromJson(element);
        if (!clip) continue;
        if (clip->kind == Clip::Kind::image && !QFile::exists(imagePath(*clip))) continue;
        clips_.append(std::move(*clip));
        if (clips_.size() >= maxClips * 2) break; // a hand-edited file cannot make it unbounded
    }
    trim();
    emit changed();
}

void ClipboardStore::poll() {
    settleReads();
    const quint64 count = clipboard_->changeCount();
    if (count == seenChange_) return;
    if (reads_.size() >= maxReadsInFlight) return; // seen again at the next poll
    seenChange_ = count;
    // Read at each poll: the settings window writes them while the store runs.
    if (!settings_->boolValue(QStringLiteral("clipboardEnabled"), true)) return;
    QString source;
    if (const auto active = apps_->active()) source = active->desktopID;
    const QStringList excluded = settings_->stringList(QStringLiteral("clipExcluded")).value_or(QStringList{});
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
        clip.kind = Clip::Kind::file;
        clip.filePaths = files;
        clip.text = files.join(QLatin1Char('\n'));
        insert(std::move(clip));
        return;
    }
    if (!content.image.isNull()) {
        // PNG encoding of a large screenshot takes a while: off the GUI thread, and the clip
        // appears once its file exists.
        clip.kind = Clip::Kind::image;
        clip.imageFile = clip.id + QStringLiteral(".png");
        const QString path = imagePath(clip);
        const QString folder = folder_;
        const QImage image = content.image;
        QPointer<ClipboardStore> self(this);
        writer_->start([self, clip, path, folder, image]() mutable {
            QByteArray png;
            QBuffer buffer(&png);
            buffer.open(QIODevice::WriteOnly);
            if (!image.save(&buffer, "PNG")) return;
            paths::ensureDir(folder);
            if (auto err = fileio::writeAtomically(path, png)) {
                log("clipboard image not saved: " + *err);
                return;
            }
            QMetaObject::invokeMethod(
                qApp, [self, clip] { if (self) self->insert(clip); }, Qt::QueuedConnection);
        });
        return;
    }
    if (content.text.trimmed().isEmpty() || content.text.size() > maxTextChars) return;
    clip.kind = isWebLink(content.text) ? Clip::Kind::link : Clip::Kind::text;
    clip.text = content.text;
    insert(std::move(clip));
}

void ClipboardStore::insert(Clip clip) {
    // The same text or files again move the earlier clip to the top, keeping its pin.
    if (clip.kind != Clip::Kind::image) {
        for (qsizetype i = 0; i < clips_.size(); ++i) {
            const Clip& old = clips_[i];
            if (old.kind == clip.kind && old.text == clip.text && old.filePaths == clip.filePaths) {
                clip.id = old.id;
                clip.pinned = old.pinned;
                clips_.removeAt(i);
                break;
            }
        }
    }
    clips_.prepend(std::move(clip));
    deleteImages(trim());
    save();
    emit changed();
}

QStringList ClipboardStore::trim() {
    QStringList images;
    for (qsizetype i = clips_.size() - 1; i >= 0 && clips_.size() > maxClips; --i) {
        if (clips_[i].pinned) continue;
        if (!clips_[i].imageFile.isEmpty()) images.append(clips_[i].imageFile);
        clips_.removeAt(i);
    }
    return images;
}

void ClipboardStore::clearUnpinned() {
    QStringList images;
    QList<Clip> kept;
    for (const Clip& c : std::as_const(clips_)) {
        if (c.pinned) kept.append(c);
        else if (!c.imageFile.isEmpty()) images.append(c.imageFile);
    }
    clips_ = kept;
    deleteImages(images);
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

void ClipboardStore::deleteImages(const QStringList& files) {
    if (files.isEmpty()) return;
    const QString folder = folder_;
    writer_->start([folder, files] {
        for (const QString& f : files) QFile::remove(folder + QLatin1Char('/') + f);
    });
}

void ClipboardStore::save() {
    if (saveBlocked_) return;
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
        nlohmann::json j = nlohmann::json::array();
        for (const Clip& c : snapshot) j.push_back(c.toJson());
        paths::ensureDir(folder);
        const std::string text = j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        if (auto err = fileio::writeAtomically(folder + QLatin1Char('/') + kHistoryFile,
                                               QByteArray::fromStdString(text)))
            log("clipboard history not saved: " + *err);
    });
}

bool ClipboardStore::paste(const QList<Clip>& chosen) {
    if (chosen.isEmpty()) return false;
    ClipboardContent content;
    QStringList texts;
    for (const Clip& c : chosen) {
        switch (c.kind) {
        case Clip::Kind::text:
        case Clip::Kind::link: texts.append(c.text); break;
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
    if (!settings_->boolValue(QStringLiteral("pasteDirectly"), true) || !keys_->trusted()) return false;
    PasteKeys* keys = keys_;
    Timer::singleShot(clock_, pasteDelaySeconds, this, [keys] { keys->sendPaste(); });
    return true;
}

} // namespace lomex
