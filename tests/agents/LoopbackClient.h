#pragma once
// Blocking loopback client for driving the hook server over real sockets.
#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <chrono>
#include <thread>

namespace lomex::test {

// A port that was free a moment ago on 127.0.0.1.
inline quint16 freeLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

class LoopbackClient {
public:
    explicit LoopbackClient(quint16 port)
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    }
    ~LoopbackClient() { close(); }
    LoopbackClient(const LoopbackClient&) = delete;
    LoopbackClient& operator=(const LoopbackClient&) = delete;

    bool connected() const { return connected_; }

    bool send(const QByteArray& bytes)
    {
        qsizetype sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n = ::send(fd_, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            sent += n;
        }
        return true;
    }

    // Sends one byte at a time with a pause in between.
    bool trickle(const QByteArray& bytes, int pauseMs = 1)
    {
        for (char c : bytes) {
            if (!send(QByteArray(1, c)))
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
        }
        return true;
    }

    // Waits until the server has read every byte sent so far: none is left in this socket's
    // send queue nor in the receive queue of the server's end (/proc/net/tcp).
    bool readByServer(int timeoutMs = 3000)
    {
        sockaddr_in mine{}, theirs{};
        socklen_t len = sizeof mine;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&mine), &len);
        len = sizeof theirs;
        ::getpeername(fd_, reinterpret_cast<sockaddr*>(&theirs), &len);
        char serverEnd[32];
        std::snprintf(serverEnd, sizeof serverEnd, "%08X:%04X %08X:%04X", theirs.sin_addr.s_addr,
                      ntohs(theirs.sin_port), mine.sin_addr.s_addr, ntohs(mine.sin_port));
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < timeoutMs) {
            int unsent = -1;
            if (::ioctl(fd_, SIOCOUTQ, &unsent) == 0 && unsent == 0 && serverQueueEmpty(serverEnd))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return false;
    }

    void shutdownWrite() { ::shutdown(fd_, SHUT_WR); }

    // Reads until the server closes (true) or the time runs out (false).
    bool readUntilClosed(QByteArray* out, int timeoutMs = 5000)
    {
        QElapsedTimer timer;
        timer.start();
        char buffer[65536];
        for (;;) {
            const int left = timeoutMs - int(timer.elapsed());
            if (left <= 0)
                return false;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, left) <= 0)
                return false;
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n == 0)
                return true;
            if (n < 0)
                return errno == ECONNRESET;
            out->append(buffer, n);
        }
    }

    // The whole response, or a marker when the server kept the connection open too long.
    QByteArray response(int timeoutMs = 5000)
    {
        QByteArray out;
        if (!readUntilClosed(&out, timeoutMs))
            return "<still open>" + out;
        return out;
    }

    // True when nothing arrives and the connection stays open for the given time.
    bool staysOpenFor(int ms)
    {
        pollfd p{fd_, POLLIN, 0};
        return ::poll(&p, 1, ms) == 0;
    }

    void close()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

private:
    static bool serverQueueEmpty(const QByteArray& ends)
    {
        QFile table(QStringLiteral("/proc/net/tcp"));
        if (!table.open(QIODevice::ReadOnly))
            return false;
        for (const QByteArray& line : table.readAll().split('\n')) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            // sl local_address rem_address st tx_queue:rx_queue ...
            if (fields.size() > 4 && fields[1] + ' ' + fields[2] == ends)
                return fields[4].endsWith(":00000000");
        }
        return false;
    }

    int fd_ = -1;
    bool connected_ = false;
};

inline QByteArray roundTrip(quint16 port, const QByteArray& request, int timeoutMs = 5000)
{
    LoopbackClient client(port);
    client.send(request);
    return client.response(timeoutMs);
}

inline QByteArray post(const QByteArray& target, const QByteArray& body, const QByteArray& extraHeaders = {})
{
    return "POST " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extraHeaders
           + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

inline QByteArray httpResponse(const QByteArray& status, const QByteArray& body)
{
    return "HTTP/1.1 " + status + "\r\nContent-Type: text/plain\r\nContent-Length: "
           + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

} // namespace lomex::test
