#include "platform/PeerAccount.h"
#include "platform/FileIO.h"
#include <QByteArray>
#include <QList>
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
    for (const char* path : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        const std::optional<QByteArray> table = fileio::readRegularFile(QString::fromLatin1(path), 64 << 20);
        if (!table)
            continue;
        if (auto uid = findPeerUid(*table, peerPort, localPort))
            return uid;
    }
    return std::nullopt;
}

uint ownUid() { return uint(::geteuid()); }

} // namespace lomex::peeraccount
