#include "core/FileIO.h"
#include "platform/PeerAccount.h"
#include <QTcpServer>
#include <QTcpSocket>
#include <gtest/gtest.h>

using namespace lomex;

namespace {

const QByteArray kHead =
    "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n";

// Table rows: the client side is the row whose own port is the peer's and whose remote port is ours.
TEST(PeerAccount, FindsTheClientSideOfTheConnection)
{
    const QByteArray v4 = kHead
        + "   0: 0100007F:1EA1 00000000:0000 0A 00000000:00000000 00:00000000 00000000  1000        0 1 1\n"
          "   1: 0100007F:1EA1 0100007F:D431 01 00000000:00000000 00:00000000 00000000  1000        0 2 1\n"
          "   2: 0100007F:D431 0100007F:1EA1 06 00000000:00000000 00:00000000 00000000     0        0 0 1\n"
          "   3: 0100007F:D431 0100007F:1EA1 01 00000000:00000000 00:00000000 00000000  1001        0 3 1\n"
          "   4: 0A00020F:D432 0A000201:1EA1 01 00000000:00000000 00:00000000 00000000  1002        0 4 1\n";
    EXPECT_EQ(peeraccount::findPeerUid(v4, 0xD431, 0x1EA1), 1001u) << "established only, not the server side";
    EXPECT_EQ(peeraccount::findPeerUid(v4, 0xD432, 0x1EA1), std::nullopt) << "not over loopback";
    EXPECT_EQ(peeraccount::findPeerUid(v4, 0xD433, 0x1EA1), std::nullopt);
    const QByteArray v6 = kHead
        + "   0: 0000000000000000FFFF00000100007F:D431 0000000000000000FFFF00000100007F:1EA1 01 "
          "00000000:00000000 00:00000000 00000000  1003        0 5 1\n";
    EXPECT_EQ(peeraccount::findPeerUid(v6, 0xD431, 0x1EA1), 1003u);
    EXPECT_EQ(peeraccount::findPeerUid("garbage\n1: x y\n", 1, 2), std::nullopt);
}

// A real connection: the kernel's answer and the socket table's agree on our own uid.
TEST(PeerAccount, RealConnectionIsOurs)
{
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, server.serverPort());
    ASSERT_TRUE(client.waitForConnected(2000));
    ASSERT_TRUE(server.waitForNewConnection(2000));
    QTcpSocket* accepted = server.nextPendingConnection();
    EXPECT_EQ(peeraccount::loopbackPeerUid(accepted->peerPort(), accepted->localPort()), peeraccount::ownUid());
    const auto table = fileio::readRegularFile("/proc/net/tcp");
    ASSERT_TRUE(table);
    EXPECT_EQ(peeraccount::findPeerUid(*table, accepted->peerPort(), accepted->localPort()), peeraccount::ownUid());
    client.abort();
    ASSERT_TRUE(accepted->waitForDisconnected(2000) || accepted->state() == QAbstractSocket::UnconnectedState);
    EXPECT_EQ(peeraccount::loopbackPeerUid(accepted->peerPort(), accepted->localPort()), std::nullopt) << "gone";
}

} // namespace
