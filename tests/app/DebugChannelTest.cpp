#include "TestEnv.h"
#include "core/Paths.h"
#include "platform/DebugChannel.h"
#include "platform/PeerAccount.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QtConcurrent>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace lomex;

namespace {

class DebugChannelTest : public test::LomexTest {
protected:
    // The blocking client runs on another thread while this one serves.
    debugchannel::SendResult sendAsync(const QString& command, const QString& path) {
        auto future = QtConcurrent::run([command, path] { return debugchannel::send(command, 3000, path); });
        EXPECT_TRUE(test::waitUntil([&] { return future.isFinished(); }, 5000));
        return future.result();
    }
    QString path() const { return debugchannel::socketPath(); }
};

} // namespace

TEST_F(DebugChannelTest, RoundTripCarriesCommandAndReply) {
    QStringList seen;
    DebugChannelServer server([&](const QString& c) {
        seen << c;
        if (c == "snap") return debugchannel::Reply{true, "/tmp/some file.png"};
        if (c == "home") return debugchannel::Reply{true, {}};
        return debugchannel::Reply{false, "unknown command"};
    });
    ASSERT_TRUE(server.listen(path())) << server.error().toStdString();
    EXPECT_TRUE(path().startsWith(qEnvironmentVariable("XDG_RUNTIME_DIR")));

    auto r = sendAsync("home", path());
    EXPECT_TRUE(r.delivered);
    EXPECT_TRUE(r.reply.ok);
    EXPECT_TRUE(r.reply.text.isEmpty());

    r = sendAsync("snap", path());
    EXPECT_TRUE(r.reply.ok);
    EXPECT_EQ(r.reply.text, "/tmp/some file.png");

    r = sendAsync("settings:zkratky ž", path());
    EXPECT_TRUE(r.delivered);
    EXPECT_FALSE(r.reply.ok);
    EXPECT_EQ(r.reply.text, "unknown command");
    EXPECT_EQ(seen, (QStringList{"home", "snap", "settings:zkratky ž"}));

    // Only this user may connect.
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0077, 0u);
}

TEST_F(DebugChannelTest, NoRunningAppIsReportedNotDelivered) {
    auto r = debugchannel::send("home", 500, path());
    EXPECT_FALSE(r.delivered);
    EXPECT_FALSE(r.error.isEmpty());

    // A socket file left by a process that is gone does not count as a running app,
    // and a new server takes its place.
    QFile stale(path());
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    stale.close();
    EXPECT_FALSE(debugchannel::send("home", 500, path()).delivered);
    DebugChannelServer server([](const QString&) { return debugchannel::Reply{true, {}}; });
    EXPECT_TRUE(server.listen(path())) << server.error().toStdString();
}

TEST_F(DebugChannelTest, SecondServerDoesNotStealTheSocket) {
    DebugChannelServer first([](const QString&) { return debugchannel::Reply{true, "first"}; });
    ASSERT_TRUE(first.listen(path()));
    DebugChannelServer second([](const QString&) { return debugchannel::Reply{true, "second"}; });
    EXPECT_FALSE(second.listen(path()));
    EXPECT_EQ(sendAsync("x", path()).reply.text, "first");
}

TEST_F(DebugChannelTest, RefusesAFolderOthersCanWrite) {
    const QString shared = home.file("shared");
    QDir().mkpath(shared);
    ::chmod(QFile::encodeName(shared).constData(), 0777);
    DebugChannelServer server([](const QString&) { return debugchannel::Reply{true, {}}; });
    EXPECT_FALSE(server.listen(shared + "/lomex-debug.sock"));
    EXPECT_FALSE(server.error().isEmpty());
}

TEST_F(DebugChannelTest, OverlongAndMultiLineCommandsAreRefused) {
    int calls = 0;
    DebugChannelServer server([&](const QString&) {
        ++calls;
        return debugchannel::Reply{true, {}};
    });
    ASSERT_TRUE(server.listen(path()));
    EXPECT_FALSE(debugchannel::send("two\nlines", 500, path()).delivered);
    EXPECT_FALSE(debugchannel::send(QString(debugchannel::kMaxLine, 'a'), 500, path()).delivered);

    // A raw client that sends too much without a newline is cut off with an error.
    QByteArray answer;
    auto future = QtConcurrent::run([p = path()] {
        QLocalSocket s;
        s.connectToServer(p);
        if (!s.waitForConnected(2000)) return QByteArray();
        s.write(QByteArray(debugchannel::kMaxLine + 100, 'x'));
        s.waitForBytesWritten(2000);
        QByteArray got;
        while (s.waitForReadyRead(2000)) got += s.readAll();
        return got;
    });
    ASSERT_TRUE(test::waitUntil([&] { return future.isFinished(); }, 6000));
    EXPECT_TRUE(future.result().startsWith("error")) << future.result().left(40).toStdString();
    EXPECT_EQ(calls, 0);
}

// Without XDG_RUNTIME_DIR the channel's folder is <temp>/lomex-<uid>, made private when
// missing, but used only while it is a folder of ours closed to others; otherwise another
// private folder of ours, or none at all.
TEST_F(DebugChannelTest, FallbackRuntimeFolderIsOnlyEverAPrivateOneOfOurs) {
    QTemporaryDir tmp;
    const QByteArray savedTmp = qgetenv("TMPDIR");
    qputenv("TMPDIR", tmp.path().toUtf8());
    qunsetenv("XDG_RUNTIME_DIR");
    const QString fallback = tmp.path() + QStringLiteral("/lomex-%1").arg(::getuid());
    auto isPrivateOfOurs = [](const QString& dir) {
        struct stat st {};
        return ::lstat(QFile::encodeName(dir).constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid()
            && (st.st_mode & 0777) == 0700;
    };
    const struct {
        const char* name;
        std::function<bool()> make; // false: cannot be set up here
        bool used;
    } cases[] = {
        {"missing", [] { return true; }, true},
        {"ours, private", [&] { return QDir().mkdir(fallback) && ::chmod(QFile::encodeName(fallback).constData(), 0700) == 0; }, true},
        {"open to all", [&] { return QDir().mkdir(fallback) && ::chmod(QFile::encodeName(fallback).constData(), 0777) == 0; }, false},
        {"readable by the group", [&] { return QDir().mkdir(fallback) && ::chmod(QFile::encodeName(fallback).constData(), 0750) == 0; }, false},
        {"another account's", [&] {
             return ::getuid() == 0 && QDir().mkdir(fallback) && ::chmod(QFile::encodeName(fallback).constData(), 0700) == 0
                 && ::chown(QFile::encodeName(fallback).constData(), 65534, 65534) == 0;
         }, false},
        {"a link to a private folder of ours", [&] {
             return QDir().mkdir(tmp.path() + "/mine") && ::chmod(QFile::encodeName(tmp.path() + "/mine").constData(), 0700) == 0
                 && QFile::link(tmp.path() + "/mine", fallback);
         }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(fallback);
        QDir(fallback).removeRecursively();
        QDir(tmp.path() + "/mine").removeRecursively();
        if (!c.make()) continue;
        const QString dir = paths::runtimeDir();
        if (c.used) {
            EXPECT_EQ(dir, fallback);
        } else {
            EXPECT_NE(dir, fallback);
            EXPECT_FALSE(dir.startsWith(fallback + "/"));
        }
        if (!dir.isEmpty()) {
            EXPECT_TRUE(isPrivateOfOurs(dir)) << dir.toStdString();
        }
        EXPECT_EQ(debugchannel::socketPath().isEmpty(), dir.isEmpty());
    }
    if (savedTmp.isNull()) qunsetenv("TMPDIR");
    else qputenv("TMPDIR", savedTmp);
}

// The client asks the kernel who listens before it sends: the app of this account only.
TEST_F(DebugChannelTest, PeerOfALocalSocketIsAskedOfTheKernel) {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    EXPECT_EQ(peeraccount::localPeerUid(fds[0]), std::optional<uint>(::getuid()));
    ::close(fds[0]);
    ::close(fds[1]);
    EXPECT_FALSE(peeraccount::localPeerUid(-1).has_value());
}
