#include "platform/FileIO.h"
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
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

std::optional<QString> writeAtomically(const QString& path, const QByteArray& data, const WriteOptions& options) {
    QString target = path;
    if (options.followSymlink) {
        QFileInfo info(path);
        if (info.isSymLink()) {
            QString resolved = info.symLinkTarget();
            if (!resolved.isEmpty()) target = resolved;
        }
    }
    const QByteArray targetName = QFile::encodeName(target);

    mode_t mode = mode_t(options.newFileMode);
    struct stat st {};
    if (::stat(targetName.constData(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) return QStringLiteral("%1: not a regular file").arg(target);
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
    if (::fsync(fd) != 0) return fail(errno);
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

std::optional<QByteArray> readRegularFile(const QString& path, qint64 maxBytes, QString* error) {
    const QByteArray name = QFile::encodeName(path);
    int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (error) *error = errnoText(path, errno);
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (error) *error = QStringLiteral("%1: not a regular file").arg(path);
        ::close(fd);
        return std::nullopt;
    }
    QByteArray out;
    out.reserve(int(std::min<qint64>(st.st_size, maxBytes)));
    char buf[65536];
    while (out.size() < maxBytes) {
        ssize_t n = ::read(fd, buf, size_t(std::min<qint64>(sizeof buf, maxBytes - out.size())));
        if (n < 0) {
            if (errno == EINTR) continue;
            if (error) *error = errnoText(path, errno);
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        out.append(buf, int(n));
    }
    ::close(fd);
    return out;
}

} // namespace lomex::fileio
