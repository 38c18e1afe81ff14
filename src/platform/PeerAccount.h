#pragma once
#include <QtGlobal>
#include <optional>

// Who is on the other end of a loopback TCP connection. Any local account can connect to a
// loopback port; the kernel's socket table says which one did.
namespace lomex::peeraccount {

// The uid owning the established loopback socket whose own port is peerPort and whose remote
// port is localPort (the client side of a connection accepted on localPort), read from
// /proc/net/tcp and /proc/net/tcp6. Nothing when no such socket is listed.
std::optional<uint> loopbackPeerUid(quint16 peerPort, quint16 localPort);

// The effective uid of this process.
uint ownUid();

// Parses one socket table (the text of /proc/net/tcp or tcp6) for the same lookup.
std::optional<uint> findPeerUid(const QByteArray& table, quint16 peerPort, quint16 localPort);

} // namespace lomex::peeraccount
