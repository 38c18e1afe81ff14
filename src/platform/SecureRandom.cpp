#include "platform/SecureRandom.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

namespace lomex {

namespace {

bool fromGetrandom(char* out, size_t count)
{
    size_t filled = 0;
    while (filled < count) {
        const ssize_t n = ::getrandom(out + filled, count - filled, 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        filled += size_t(n);
    }
    return true;
}

bool fromDevice(char* out, size_t count)
{
    const int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    size_t filled = 0;
    while (filled < count) {
        const ssize_t n = ::read(fd, out + filled, count - filled);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ::close(fd);
            return false;
        }
        filled += size_t(n);
    }
    ::close(fd);
    return true;
}

} // namespace

std::optional<QByteArray> secureRandomBytes(int count)
{
    if (count < 0)
        return std::nullopt;
    QByteArray bytes(count, '\0');
    if (count == 0)
        return bytes;
    if (fromGetrandom(bytes.data(), size_t(count)) || (errno == ENOSYS && fromDevice(bytes.data(), size_t(count))))
        return bytes;
    return std::nullopt;
}

} // namespace lomex
