#include "platform/FileTail.h"
#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lomex::fileio {

namespace {
struct Fd {
    int fd = -1;
    ~Fd() { if (fd >= 0) ::close(fd); }
};
} // namespace

std::optional<TailLines> readTailLines(const QString& path, qint64 window) {
    if (window <= 0) return std::nullopt;
    Fd f;
    f.fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (f.fd < 0) return std::nullopt;
    struct stat st {};
    if (::fstat(f.fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;

    const qint64 size = st.st_size;
    // One byte more than the window, so we can tell whether the window starts at a line's start.
    const qint64 readStart = size > window ? size - window - 1 : 0;
    const qint64 want = size - readStart;

    TailLines out;
    out.fileSize = size;
    out.bytes.resize(want);
    qint64 got = 0;
    while (got < want) {
        ssize_t n = ::pread(f.fd, out.bytes.data() + got, size_t(want - got), off_t(readStart + got));
        if (n < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        if (n == 0) break; // truncated meanwhile
        got += n;
    }
    out.bytes.truncate(got);
    if (got == 0) return out;

    const char* data = out.bytes.constData();
    qint64 pos = 0;
    if (readStart > 0) {
        // Skip the (possibly cut) first line; when the extra byte is itself "\n" only it goes.
        const void* nl = std::memchr(data, '\n', size_t(got));
        if (!nl) return out;
        pos = static_cast<const char*>(nl) - data + 1;
    }
    out.lines.reserve(size_t(got / 256));
    while (pos < got) {
        const void* nl = std::memchr(data + pos, '\n', size_t(got - pos));
        const qint64 end = nl ? static_cast<const char*>(nl) - data : got;
        qint64 len = end - pos;
        // A "\r\n" writer still gives clean lines.
        if (len > 0 && data[pos + len - 1] == '\r') --len;
        if (len > 0) out.lines.push_back({readStart + pos, QByteArrayView(data + pos, len)});
        pos = end + 1;
    }
    return out;
}

} // namespace lomex::fileio
