#include "platform/PeerAccount.h"
#include "core/FileIO.h"
#include <QByteArray>
#include <QList>
#include <cerrno>
#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace lomex::peeraccount {

namespace {

// Hex address and port of one table column ("0100007F:1EA1").
bool parseEndpoint(const QByteArray& field, QByteArray* address, quint16* port)
{
    const qsizetype colon = field.indexOf(':');
    if (colon < 0)
        return false;
    bool ok = false;
    const uint p = field.mid(colon + 1).toUInt(&ok, 16);
    if (!ok || p > 0xFFFF)
        return false;
    *address = field.left(colon).toUpper();
    *port = quint16(p);
    return true;
}

// 127.0.0.0/8 as IPv4 (stored little-endian on the machines we run on), as ::1, or as an
// IPv4-mapped IPv6 address.
bool isLoopback(const QByteArray& hex)
{
    if (hex.size() == 8)
        return hex.endsWith("7F");
    if (hex == "00000000000000000000000001000000")
        return true;
    return hex.size() == 32 && hex.startsWith("0000000000000000FFFF0000") && hex.endsWith("7F");
}

enum class Diag { found, absent, unavailable };

// Looks up the one socket 127.0.0.1:peerPort -> 127.0.0.1:localPort (an exact lookup by the
// four-tuple, not a dump of every socket).
Diag diagPeerUid(quint16 peerPort, quint16 localPort, uint* uid)
{
    const int fd = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (fd < 0)
        return Diag::unavailable;
    const timeval timeout{0, 200'000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    struct {
        nlmsghdr header;
        inet_diag_req_v2 request;
    } message{};
    message.header.nlmsg_len = sizeof message;
    message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    message.header.nlmsg_flags = NLM_F_REQUEST;
    message.request.sdiag_family = AF_INET;
    message.request.sdiag_protocol = IPPROTO_TCP;
    message.request.idiag_states = 1u << TCP_ESTABLISHED;
    message.request.id.idiag_sport = htons(peerPort);
    message.request.id.idiag_dport = htons(localPort);
    message.request.id.idiag_src[0] = htonl(INADDR_LOOPBACK);
    message.request.id.idiag_dst[0] = htonl(INADDR_LOOPBACK);
    message.request.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
    message.request.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(fd, &message, sizeof message, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) < 0) {
        ::close(fd);
        return Diag::unavailable;
    }
    alignas(nlmsghdr) char buffer[8192];
    ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    ::close(fd);
    if (n < 0)
        return Diag::unavailable;
    for (auto* h = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(h, n); h = NLMSG_NEXT(h, n)) {
        if (h->nlmsg_type == NLMSG_ERROR) {
            const auto* error = static_cast<const nlmsgerr*>(NLMSG_DATA(h));
            // No such socket is an answer; anything else (no diagnostics module) is not.
            return error->error == -ENOENT ? Diag::absent : Diag::unavailable;
        }
        if (h->nlmsg_type == SOCK_DIAG_BY_FAMILY && h->nlmsg_len >= NLMSG_LENGTH(sizeof(inet_diag_msg))) {
            const auto* found = static_cast<const inet_diag_msg*>(NLMSG_DATA(h));
            if (found->idiag_state != TCP_ESTABLISHED)
                return Diag::absent;
            *uid = found->idiag_uid;
            return Diag::found;
        }
    }
    return Diag::unavailable;
}

} // namespace

std::optional<uint> findPeerUid(const QByteArray& table, quint16 peerPort, quint16 localPort)
{
    const QList<QByteArray> lines = table.split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> f = lines[i].simplified().split(' ');
        if (f.size() < 8)
            continue;
        QByteArray ownAddress, remoteAddress;
        quint16 ownPort = 0, remotePort = 0;
        if (!parseEndpoint(f[1], &ownAddress, &ownPort) || !parseEndpoint(f[2], &remoteAddress, &remotePort))
            continue;
        // "01" is ESTABLISHED; a closed socket of an earlier connection may still be listed.
        if (ownPort != peerPort || remotePort != localPort || f[3] != "01")
            continue;
        if (!isLoopback(ownAddress) || !isLoopback(remoteAddress))
            continue;
        bool ok = false;
        const uint uid = f[7].toUInt(&ok);
        if (ok)
            return uid;
    }
    return std::nullopt;
}

std::optional<uint> loopbackPeerUid(quint16 peerPort, quint16 localPort)
{
    uint uid = 0;
    switch (diagPeerUid(peerPort, localPort, &uid)) {
    case Diag::found: return uid;
    case Diag::absent: return std::nullopt;
    case Diag::unavailable: break;
    }
    for (const char* path : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        const std::optional<QByteArray> table = fileio::readRegularFile(QString::fromLatin1(path), 64 << 20);
        if (!table)
            continue;
        if (auto uid = findPeerUid(*table, peerPort, localPort))
            return uid;
    }
    return std::nullopt;
}

std::optional<uint> localPeerUid(qintptr fd) {
    if (fd < 0) return std::nullopt;
    ucred cred {};
    socklen_t size = sizeof cred;
    if (::getsockopt(int(fd), SOL_SOCKET, SO_PEERCRED, &cred, &size) != 0 || size != sizeof cred) return std::nullopt;
    return uint(cred.uid);
}

uint ownUid() { return uint(::geteuid()); }

} // namespace lomex::peeraccount
