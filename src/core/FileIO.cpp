#include "core/FileIO.h"
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <cstdio>
#include <QElapsedTimer>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lomex::fileio {

namespace {
QString errnoText(const QString& path, int err) {
    return QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(err)));
}

bool writeAll(int fd, const QByteArray& data) {
    const char* p = data.constData();
    qint64 left = data.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}
} // namespace

std::optional<QString> finalTarget(const QString& path) {
    // The kernel's own limit on links followed in one lookup.
    constexpr int maxLinks = 40;
    QString current = path;
    for (int i = 0; i <= maxLinks; ++i) {
        const QByteArray name = QFile::encodeName(current);
        struct stat st {};
        if (::lstat(name.constData(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
        QByteArray buffer(PATH_MAX, Qt::Uninitialized);
        const ssize_t n = ::readlink(name.constData(), buffer.data(), size_t(buffer.size()));
        if (n < 0 || n >= buffer.size()) return current;
        const QString link = QFile::decodeName(buffer.left(n));
        // A relative link is relative to the folder holding the link, not to ours.
        current = link.startsWith(QLatin1Char('/')) ? link
                                                    : QFileInfo(current).absolutePath() + QLatin1Char('/') + link;
    }
    return std::nullopt;
}

std::optional<QString> writeAtomically(const QString& path, const QByteArray& data, const WriteOptions& options) {
    QString target = path;
    if (options.followSymlink) {
        auto resolved = finalTarget(path);
        if (!resolved) return QStringLiteral("%1: too many levels of symbolic links").arg(path);
        target = *resolved;
    }
    const QByteArray targetName = QFile::encodeName(target);

    mode_t mode = mode_t(options.newFileMode);
    struct stat st {};
    if (::stat(targetName.constData(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) return QStringLiteral("%1: not a regular file").arg(target);
        if (options.refuseReadOnly && !(st.st_mode & S_IWUSR)) return errnoText(target, EACCES);
        if (options.keepExistingMode) mode = st.st_mode & 07777;
    }

    QFileInfo tinfo(target);
    QByteArray tmpl = QFile::encodeName(tinfo.absolutePath() + "/." + tinfo.fileName() + ".tmp-XXXXXX");
    // mkstemp creates the file 0600 from the start; fchmod only ever narrows or restores the kept mode.
    int fd = ::mkstemp(tmpl.data());
    if (fd < 0) return errnoText(target, errno);
    auto fail = [&](int err) {
        ::close(fd);
        ::unlink(tmpl.constData());
        return std::optional<QString>(errnoText(target, err));
    };
    if (::fchmod(fd, mode) != 0) return fail(errno);
    if (!writeAll(fd, data)) return fail(errno);
    if (options.flushToDisk && ::fsync(fd) != 0) return fail(errno);
    if (::close(fd) != 0) {
        int err = errno;
        ::unlink(tmpl.constData());
        return errnoText(target, err);
    }
    if (::rename(tmpl.constData(), targetName.constData()) != 0) {
        int err = errno;
        ::unlink(tmpl.constData());
        return errnoText(target, err);
    }
    return std::nullopt;
}

std::optional<QString> moveAside(const QString& path, const QString& base) {
    const QByteArray from = QFile::encodeName(path);
    for (int n = 1; n <= 1000; ++n) {
        const QString name = n == 1 ? base : QStringLiteral("%1-%2").arg(base).arg(n);
        const QByteArray to = QFile::encodeName(name);
        if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0) return name;
        if (errno == EEXIST) continue;
        if (errno != EINVAL && errno != ENOSYS) return std::nullopt;
        // A file system without no-replace renames: a hard link fails rather than replace.
        if (::link(from.constData(), to.constData()) == 0) {
            ::unlink(from.constData());
            return name;
        }
        if (errno != EEXIST) return std::nullopt;
    }
    return std::nullopt;
}

bool readRegularFileChunks(const QString& path, qint64 chunkBytes,
                           const std::function<bool(const char*, qsizetype)>& fn, QString* error) {
    const QByteArray name = QFile::encodeName(path);
    int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (error) *error = errnoText(path, errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (error) *error = QStringLiteral("%1: not a regular file").arg(path);
        ::close(fd);
        return false;
    }
    QByteArray buf(qsizetype(std::max<qint64>(1, chunkBytes)), Qt::Uninitialized);
    for (;;) {
        const ssize_t n = ::read(fd, buf.data(), size_t(buf.size()));
        if (n < 0) {
            if (errno == EINTR) continue;
            if (error) *error = errnoText(path, errno);
            ::close(fd);
            return false;
        }
        if (n == 0 || !fn(buf.constData(), qsizetype(n))) break;
    }
    ::close(fd);
    return true;
}

std::optional<QByteArray> readRegularFile(const QString& path, qint64 maxBytes, QString* error) {
    // Grown as bytes arrive, never reserved from st_size: a sparse file claims any size.
    QByteArray out;
    const bool ok = readRegularFileChunks(path, std::min<qint64>(65536, std::max<qint64>(1, maxBytes)),
                                          [&](const char* data, qsizetype n) {
                                              out.append(data, qsizetype(std::min<qint64>(n, maxBytes - out.size())));
                                              return out.size() < maxBytes;
                                          }, error);
    if (!ok) return std::nullopt;
    return out;
}

int removeStaleTemporaries(const QString& targetPath, int olderThanSeconds) {
    const QString target = finalTarget(targetPath).value_or(targetPath);
    const QFileInfo tinfo(target);
    // mkstemp's six characters after our own prefix; nothing else in the folder matches.
    const QRegularExpression ours(QStringLiteral("^%1\\.tmp-[A-Za-z0-9]{6}$")
                                      .arg(QRegularExpression::escape(QLatin1Char('.') + tinfo.fileName())));
    const QDir dir(tinfo.absolutePath());
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    int removed = 0;
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        if (!ours.match(name).hasMatch()) continue;
        const QByteArray path = QFile::encodeName(dir.filePath(name));
        struct stat st {};
        if (::lstat(path.constData(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid()) continue;
        if (now - qint64(st.st_mtime) < olderThanSeconds) continue;
        if (::unlink(path.constData()) == 0) ++removed;
    }
    return removed;
}

QByteArray readStream(int fd, qint64 maxBytes, int timeLimitMs) {
    QByteArray out;
    QElapsedTimer elapsed;
    elapsed.start();
    char buf[65536];
    while (out.size() < maxBytes) {
        const qint64 left = timeLimitMs - elapsed.elapsed();
        if (left <= 0) break;
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, int(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        const ssize_t n = ::read(fd, buf, size_t(std::min<qint64>(sizeof buf, maxBytes - out.size())));
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) break;
        out.append(buf, qsizetype(n));
    }
    return out;
}

} // namespace lomex::fileio
