#include "device/ClipHistory.h"
#include "core/FileIO.h"
#include "core/Log.h"
#include "core/Paths.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QUuid>

namespace lomex::cliphistory {

namespace {
std::atomic<qint64> gWritten{0};

// Bytes a UTF-16 unit takes inside a JSON string as nlohmann writes it.
qsizetype jsonBytes(QChar c) {
    const char16_t u = c.unicode();
    if (u == '\b' || u == '\f' || u == '\n' || u == '\r' || u == '\t' || u == '"' || u == '\\') return 2;
    if (u < 0x20) return 6;
    if (u < 0x80) return 1;
    if (u < 0x800 || c.isSurrogate()) return 2; // a pair takes four
    return 3;
}

// Cuts a JSON array into its top-level elements as the bytes arrive, keeping one element at a
// time: an earlier version's list could be larger than memory should hold at once.
class ElementSplitter {
public:
    enum class State { before, between, inElement, done, notArray };

    template <typename Fn>
    void feed(const char* p, qsizetype n, Fn&& onElement) {
        for (qsizetype i = 0; i < n && state_ != State::done && state_ != State::notArray; ++i) {
            const char c = p[i];
            switch (state_) {
            case State::before:
                if (c == '[') state_ = State::between;
                else if (!isSpace(c)) state_ = State::notArray;
                break;
            case State::between:
                if (isSpace(c) || c == ',') break;
                if (c == ']') {
                    state_ = State::done;
                    break;
                }
                state_ = State::inElement;
                element_.clear();
                oversized_ = false;
                depth_ = 0;
                inString_ = escaped_ = false;
                [[fallthrough]];
            case State::inElement:
                if (!inString_ && depth_ == 0 && (c == ',' || c == ']')) {
                    onElement(element_, oversized_);
                    state_ = c == ']' ? State::done : State::between;
                    break;
                }
                if (inString_) {
                    if (escaped_) escaped_ = false;
                    else if (c == '\\') escaped_ = true;
                    else if (c == '"') inString_ = false;
                } else if (c == '"') {
                    inString_ = true;
                } else if (c == '{' || c == '[') {
                    ++depth_;
                } else if ((c == '}' || c == ']') && depth_ > 0) {
                    --depth_;
                }
                if (oversized_) break;
                if (element_.size() >= kMaxElementBytes) {
                    oversized_ = true;
                    element_ = QByteArray();
                } else {
                    element_.append(c);
                }
                break;
            case State::done:
            case State::notArray: break;
            }
        }
    }
    State state() const { return state_; }

private:
    static bool isSpace(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }
    State state_ = State::before;
    QByteArray element_;
    bool oversized_ = false;
    int depth_ = 0;
    bool inString_ = false;
    bool escaped_ = false;
};

const QRegularExpression& ownFileName() {
    static const QRegularExpression re(QStringLiteral(
        "^[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}\\.(png|jpg|gif|bmp|webp|txt)$"));
    return re;
}
} // namespace

bool needsOwnFile(const QString& text) {
    qsizetype bytes = 0;
    for (QChar c : text)
        if ((bytes += jsonBytes(c)) > kInlineBytes) return true;
    return false;
}

QString head(const QString& text) {
    qsizetype bytes = 0, n = 0;
    for (; n < text.size(); ++n)
        if ((bytes += jsonBytes(text[n])) > kHeadBytes) break;
    if (n > 0 && n < text.size() && text[n - 1].isHighSurrogate()) --n;
    return text.left(n);
}

QByteArray digestOf(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

QString newFileName(const QString& extension) {
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + QLatin1Char('.') + extension;
}

std::optional<QString> writeFile(const QString& path, const QByteArray& data) {
    auto err = fileio::writeAtomically(path, data);
    if (!err) gWritten += data.size();
    return err;
}

qint64 bytesWritten() { return gWritten.load(); }

Loaded load(const QString& folder, int maxClips, const std::atomic<bool>& cancel) {
    Loaded out;
    const QString path = folder + QLatin1Char('/') + kListFile;
    if (!QFileInfo::exists(path)) return out;
    bool broken = false;
    auto take = [&](Clip clip) {
        if (clip.kind == Clip::Kind::image) {
            const QFileInfo image(folder + QLatin1Char('/') + clip.imageFile);
            if (!image.isFile()) return;
            clip.size = image.size(); // the image budget counts what is on the disk
        }
        if (!clip.textFile.isEmpty() && !QFileInfo(folder + QLatin1Char('/') + clip.textFile).isFile()) {
            out.changed = true;
            return;
        }
        if (out.clips.size() >= maxClips) {
            // Pinned clips first: one pushes out the oldest unpinned clip read so far.
            out.changed = true;
            if (!clip.pinned) return;
            qsizetype oldest = out.clips.size() - 1;
            while (oldest >= 0 && out.clips[oldest].pinned) --oldest;
            if (oldest >= 0) out.clips.removeAt(oldest);
            else if (out.clips.size() >= 2 * maxClips) return; // a hand-edited file stays bounded
        }
        if (clip.textFile.isEmpty() && needsOwnFile(clip.text)) {
            const QByteArray utf8 = clip.text.toUtf8();
            const QString name = newFileName(QStringLiteral("txt"));
            if (auto err = writeFile(folder + QLatin1Char('/') + name, utf8)) {
                log("clipboard text kept in the list, its file not written: " + *err);
            } else {
                clip.textFile = name;
                clip.digest = digestOf(utf8);
                clip.size = utf8.size();
                clip.text = head(clip.text);
                out.changed = true;
            }
        }
        out.clips.append(std::move(clip));
    };

    ElementSplitter splitter;
    QString error;
    const bool read = fileio::readRegularFileChunks(path, 1 << 20, [&](const char* p, qsizetype n) {
        splitter.feed(p, n, [&](const QByteArray& element, bool oversized) {
            if (cancel.load()) return;
            if (oversized) {
                broken = true;
                return;
            }
            const nlohmann::json j = nlohmann::json::parse(element.constData(), element.constData() + element.size(),
                                                           nullptr, false);
            if (j.is_discarded()) broken = true;
            else if (auto clip = Clip::fromJson(j)) take(std::move(*clip));
        });
        return !cancel.load() && splitter.state() != ElementSplitter::State::done &&
               splitter.state() != ElementSplitter::State::notArray;
    }, &error);
    if (cancel.load()) out.state = Loaded::State::cancelled;
    else if (!read || splitter.state() == ElementSplitter::State::notArray ||
             splitter.state() == ElementSplitter::State::before)
        out.state = Loaded::State::unreadable;
    else if (broken || splitter.state() != ElementSplitter::State::done)
        out.state = Loaded::State::partial;
    else
        out.state = Loaded::State::sound;
    if (!read) log("clipboard history not read: " + error);
    return out;
}

std::optional<QString> saveList(const QString& folder, const QList<Clip>& clips) {
    nlohmann::json j = nlohmann::json::array();
    for (const Clip& c : clips) j.push_back(c.toJson());
    paths::ensureDir(folder);
    const std::string text = j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    return writeFile(folder + QLatin1Char('/') + kListFile, QByteArray::fromStdString(text));
}

int removeOrphans(const QString& folder, const QList<Clip>& clips, qint64 olderThanMs) {
    QSet<QString> named;
    for (const Clip& c : clips) {
        if (!c.imageFile.isEmpty()) named.insert(c.imageFile);
        if (!c.textFile.isEmpty()) named.insert(c.textFile);
    }
    static const QRegularExpression temporary(QStringLiteral("^\\.(.+)\\.tmp-[A-Za-z0-9]{6}$"));
    const QDir dir(folder);
    const QStringList names = dir.entryList(QDir::Files | QDir::Hidden | QDir::System);
    // A list kept aside because it did not read may name files the user can still get back.
    const bool listAside = !names.filter(QRegularExpression(QStringLiteral("^clips\\.json\\.corrupt"))).isEmpty();
    int removed = 0;
    QSet<QString> swept;
    for (const QString& name : names) {
        if (ownFileName().match(name).hasMatch()) {
            if (listAside) continue;
            const QFileInfo info(dir.filePath(name));
            // Files written since this run began belong to copies being recorded now.
            if (named.contains(name) || info.isSymLink() || info.lastModified().toMSecsSinceEpoch() >= olderThanMs)
                continue;
            if (QFile::remove(info.filePath())) ++removed;
            continue;
        }
        const auto m = temporary.match(name);
        if (!m.hasMatch()) continue;
        const QString target = m.captured(1);
        if ((target == kListFile || ownFileName().match(target).hasMatch()) && !swept.contains(target)) {
            swept.insert(target);
            removed += fileio::removeStaleTemporaries(dir.filePath(target));
        }
    }
    return removed;
}

} // namespace lomex::cliphistory
