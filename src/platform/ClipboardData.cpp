#include "platform/ClipboardData.h"
#include "core/Paths.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lomex {

struct ClipboardData::File {
    int fd = -1;
    ~File()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

QByteArray ClipboardData::read(qint64 offset, qint64 length) const
{
    offset = std::clamp<qint64>(offset, 0, size_);
    length = std::clamp<qint64>(length, 0, size_ - offset);
    if (!file_)
        return memory_.mid(offset, length);
    QByteArray out(length, Qt::Uninitialized);
    qint64 done = 0;
    while (done < length) {
        const ssize_t n = ::pread(file_->fd, out.data() + done, size_t(length - done), off_t(offset_ + offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    out.truncate(done);
    return out;
}

ClipboardDataWriter::ClipboardDataWriter(QString folder) : folder_(std::move(folder))
{
    if (folder_.isEmpty()) {
        // The user's cache folder: on disk, where the runtime folder (and /tmp on many systems)
        // is memory, which a 256 MiB snapshot should not take.
        folder_ = paths::folderFromEnv("XDG_CACHE_HOME", paths::home() + QStringLiteral("/.cache"));
        if (!paths::ensureDir(folder_) || !QFileInfo(folder_).isWritable())
            folder_ = QDir::tempPath();
    }
}

ClipboardDataWriter::~ClipboardDataWriter() = default;

bool ClipboardDataWriter::spill()
{
    if (!file_) {
        QByteArray name = QFile::encodeName(folder_ + QStringLiteral("/lomex-clipboard-XXXXXX"));
        // mkostemp makes it 0600; unlinked at once, so only our descriptor reaches it.
        const int fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd < 0)
            return false;
        ::unlink(name.constData());
        ::fchmod(fd, S_IRUSR | S_IWUSR);
        auto file = std::make_shared<ClipboardData::File>();
        file->fd = fd;
        file_ = std::move(file);
    }
    inFile_ = true;
    const QByteArray held = std::exchange(memory_, QByteArray());
    return held.isEmpty() || append(held.constData(), held.size());
}

bool ClipboardDataWriter::append(const char* data, qint64 size)
{
    if (!inFile_) {
        const qint64 now = memory_.size() + size;
        if (now <= memoryTargetBytes && memoryHeld_ + now <= memoryTotalBytes) {
            memory_.append(data, size);
            return true;
        }
        if (!spill())
            return false;
    }
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(file_->fd, data + done, size_t(size - done), off_t(end_));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
        end_ += n;
    }
    return true;
}

ClipboardData ClipboardDataWriter::finish()
{
    ClipboardData out;
    if (inFile_) {
        out.file_ = file_;
        out.offset_ = start_;
        out.size_ = end_ - start_;
        start_ = end_;
    } else {
        out = ClipboardData(std::exchange(memory_, QByteArray()));
        memoryHeld_ += out.size();
    }
    inFile_ = false;
    return out;
}

void ClipboardDataWriter::drop()
{
    memory_.clear();
    if (inFile_) {
        end_ = start_;
        if (::ftruncate(file_->fd, off_t(end_)) != 0) {
            // The room stays taken until the snapshot goes; the next target writes over it.
        }
    }
    inFile_ = false;
}

} // namespace lomex
