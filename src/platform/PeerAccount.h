#pragma once
#include <QtGlobal>
#include <optional>

// Who is on the other end of a loopback TCP connection. Any local account can connect to a
// loopback port; the kernel's socket table says which one did.
namespace lomex::peeraccount {

// The uid owning the client side of a TCP connection accepted on 127.0.0.1:localPort from
// 127.0.0.1:peerPort. Asked of the kernel's socket diagnostics for that one socket; where
// those are not available, read from /proc/net/tcp and /proc/net/tcp6. Nothing when no such
// established socket is found.
std::optional<uint> loopbackPeerUid(quint16 peerPort, quint16 localPort);

// The uid of the process at the other end of a connected local (Unix domain) socket, as the
// kernel recorded it when the connection was made. Nothing for a descriptor that is no such socket.
std::optional<uint> localPeerUid(qintptr fd);

// The effective uid of this process.
uint ownUid();

// Parses one socket table (the text of /proc/net/tcp or tcp6) for the same lookup.
std::optional<uint> findPeerUid(const QByteArray& table, quint16 peerPort, quint16 localPort);

} // namespace lomex::peeraccount
