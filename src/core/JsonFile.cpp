#include "core/JsonFile.h"
#include "core/Paths.h"
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <sys/stat.h>

namespace lomex::jsonfile {

namespace {

std::function<void(const QString&)>& beforeReplaceHook() {
    static std::function<void(const QString&)> hook;
    return hook;
}

LomexError systemError(const QString& text, int err) { return {QStringLiteral("POSIX"), err ? err : EIO, text}; }

LomexError tooLargeError(const QString& path) { return systemError(path + QStringLiteral(": file too large"), EFBIG); }

}  // namespace

LomexError readOnlyError(const QString& path) { return {QStringLiteral("Lomex.ReadOnlyFile"), EACCES, path}; }

bool isReadOnlyError(const LomexError& error) { return error.domain == QLatin1String("Lomex.ReadOnlyFile"); }

namespace {

// What a file held when we looked.
struct Snapshot {
    bool exists = false;
    QByteArray bytes;
    bool operator==(const Snapshot&) const = default;
};

std::variant<Snapshot, LomexError> snapshot(const QString& path, qint64 maxBytes) {
    if (!QFileInfo::exists(path)) return Snapshot{};
    QString error;
    errno = 0;
    auto bytes = fileio::readRegularFile(path, maxBytes < std::numeric_limits<qint64>::max() ? maxBytes + 1 : maxBytes,
                                         &error);
    const int err = errno;
    if (!bytes) {
        if (!QFileInfo::exists(path)) return Snapshot{};
        return systemError(error.isEmpty() ? path + QStringLiteral(": cannot be read") : error, err);
    }
    if (bytes->size() > maxBytes) return tooLargeError(path);
    return Snapshot{true, *bytes};
}

bool holdsMarker(const Json& value, const std::vector<std::string>& markers) {
    const auto marked = [&](const std::string& text) {
        return std::any_of(markers.begin(), markers.end(), [&](const std::string& m) { return text.find(m) != std::string::npos; });
    };
    if (value.is_string()) return marked(value.get_ref<const std::string&>());
    if (value.is_array()) return std::any_of(value.begin(), value.end(), [&](const Json& v) { return holdsMarker(v, markers); });
    if (value.is_object())
        for (auto it = value.begin(); it != value.end(); ++it)
            if (marked(it.key()) || holdsMarker(*it, markers)) return true;
    return false;
}

bool holdsMarker(const Json& root, const QStringList& markers) {
    std::vector<std::string> texts;
    for (const QString& m : markers)
        if (!m.isEmpty()) texts.push_back(m.toStdString());
    return !texts.empty() && holdsMarker(root, texts);
}

// Whether the old content may replace the backup: not when it holds our entries (unless there
// is no backup at all), nor when it is the backup's content in our formatting (our own
// rewrite after our entries were taken out again).
bool worthBackingUp(const Json& old, const QString& backup, const EditOptions& options) {
    if (!QFileInfo::exists(backup)) return true;
    if (holdsMarker(old, options.ownMarkers)) return false;
    const auto kept = read(backup, options.maxBytes);
    return !(std::holds_alternative<Json>(kept) && std::get<Json>(kept) == old);
}

std::optional<LomexError> write(const QString& path, const QByteArray& bytes, fileio::WriteOptions options) {
    options.refuseReadOnly = true;
    errno = 0;
    if (auto error = fileio::writeAtomically(path, bytes, options)) return systemError(*error, errno);
    return std::nullopt;
}

} // namespace

bool nestsDeeperThan(const QByteArray& bytes, int limit) {
    int depth = 0;
    bool inString = false;
    bool escaped = false;
    for (const char c : bytes) {
        if (inString) {
            if (escaped) escaped = false;
            else if (c == '\\') escaped = true;
            else if (c == '"') inString = false;
            continue;
        }
        switch (c) {
        case '"': inString = true; break;
        case '{':
        case '[':
            if (++depth > limit) return true;
            break;
        case '}':
        case ']': --depth; break;
        default: break;
        }
    }
    return false;
}

namespace {

// The parser's own words, which end with what it read last: for an unclosed string that is the
// rest of the file. The text is shown to the user, so only the head of that goes along.
LomexError parserError(const QString& path, const Json::exception& e) {
    QString what = QString::fromUtf8(e.what());
    constexpr qsizetype kMost = 200;
    if (what.size() > kMost) what = what.left(kMost) + QChar(0x2026);
    return LomexError{QStringLiteral("JSON"), e.id, path + QStringLiteral(": ") + what};
}

} // namespace

std::variant<Json, LomexError> parse(const QString& path, const QByteArray& bytes) {
    // A file of nothing but white space is as empty as one of zero bytes.
    if (bytes.trimmed().isEmpty()) return Json::object();
    // Checked before parsing: the parser itself is iterative, but everything after it recurses.
    if (nestsDeeperThan(bytes, maxDepth))
        return LomexError{QStringLiteral("JSON"), 0, path + QStringLiteral(": nested too deeply")};
    Json root;
    try {
        root = Json::parse(bytes.begin(), bytes.end());
    } catch (const Json::exception& e) {
        // Not only syntax: a number past any double (1e400) is refused as out of range.
        return parserError(path, e);
    }
    if (!root.is_object())
        return LomexError{QStringLiteral("Lomex"), 2,
                          path + QStringLiteral(" is not a JSON object – please check it manually.")};
    return root;
}

std::variant<Json, LomexError> read(const QString& path, qint64 maxBytes) {
    auto snap = snapshot(path, maxBytes);
    if (auto* e = std::get_if<LomexError>(&snap)) return *e;
    return parse(path, std::get<Snapshot>(snap).bytes);
}

bool isContentError(const LomexError& error) {
    return error.domain == QLatin1String("JSON") || (error.domain == QLatin1String("Lomex") && error.code == 2);
}

bool isTooLarge(const LomexError& error) { return error.domain == QLatin1String("POSIX") && error.code == EFBIG; }

bool isReadOnly(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && !(st.st_mode & S_IWUSR);
}

std::optional<LomexError> edit(const QString& path, const Edit& edit, const EditOptions& options) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        auto snapOr = snapshot(path, options.maxBytes);
        if (auto* e = std::get_if<LomexError>(&snapOr)) return *e;
        const Snapshot before = std::get<Snapshot>(snapOr);
        if (options.onlyExisting && !before.exists) return std::nullopt;
        auto rootOr = parse(path, before.bytes);
        if (auto* e = std::get_if<LomexError>(&rootOr)) return *e;
        const Json& original = std::get<Json>(rootOr);

        Json updated = original;
        if (const QString problem = edit(updated); !problem.isEmpty())
            return LomexError{QStringLiteral("Lomex"), 2, path + problem};
        // Nothing to change: leave the file, its formatting and the last backup alone.
        if (updated == original) return std::nullopt;
        // The user took the owner's write right away: that file is not ours to replace.
        if (before.exists && isReadOnly(path)) return readOnlyError(path);

        QByteArray out;
        try {
            out = QByteArray::fromStdString(updated.dump(2)) + '\n';
        } catch (const Json::exception& e) {
            return parserError(path, e);
        }
        // A file we would refuse to read back is never written.
        if (out.size() > options.maxBytes) return tooLargeError(path);

        const QString dir = QFileInfo(path).absolutePath();
        errno = 0;
        if (!paths::ensureDir(dir)) {
            const int err = errno ? errno : EIO;
            return systemError(path + QStringLiteral(": cannot create the folder ") + dir + QStringLiteral(": ")
                                   + QString::fromLocal8Bit(std::strerror(err)),
                               err);
        }

        // The backup keeps the user's own last version: a content that holds our entries never
        // replaces it, or one on/off cycle would leave only our version there.
        const QString backup = path + QLatin1Char('.') + options.backupExtension;
        if (before.exists && !options.backupExtension.isEmpty() && worthBackingUp(original, backup, options)) {
            // The backup is a file of our own: private, and never written through a link.
            fileio::WriteOptions backupOptions;
            backupOptions.keepExistingMode = false;
            backupOptions.followSymlink = false;
            if (auto e = write(backup, before.bytes, backupOptions)) return e;
        }

        if (beforeReplaceHook()) beforeReplaceHook()(path);
        auto nowOr = snapshot(path, options.maxBytes);
        if (auto* e = std::get_if<LomexError>(&nowOr)) return *e;
        if (!(std::get<Snapshot>(nowOr) == before)) continue;

        return write(path, out, options.write);
    }
    return systemError(path + QStringLiteral(": changed by another program while it was being updated; please try again"),
                       EAGAIN);
}

void setBeforeReplaceHook(std::function<void(const QString&)> hook) { beforeReplaceHook() = std::move(hook); }

} // namespace lomex::jsonfile
