#include "platform/DebugChannel.h"
#include "core/Log.h"
#include "core/Paths.h"
#include "platform/PeerAccount.h"
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QElapsedTimer>
#include <QHash>
#include <QThread>
#include <QTimer>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lomex {

namespace debugchannel {

QString socketPath() {
    const QString dir = paths::runtimeDir();
    return dir.isEmpty() ? QString() : dir + QStringLiteral("/lomex-debug.sock");
}

namespace {
const char* const noFolder = "no private runtime folder (XDG_RUNTIME_DIR is unset and the fallback folders are not ours)";

// Whoever listens there: only the app of this account is believed or told anything.
bool isOurs(const QLocalSocket& socket) {
    return peeraccount::localPeerUid(socket.socketDescriptor()) == peeraccount::ownUid();
}

// Ours and closed to others; otherwise someone else could stand in for the socket or the lock.
bool isPrivateFolder(const QString& dir) {
    struct stat st {};
    return ::stat(QFile::encodeName(dir).constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
           !(st.st_mode & (S_IWGRP | S_IWOTH));
}

// The locks this process holds, by path; their descriptors stay open until it exits.
QHash<QString, int>& heldLocks() {
    static QHash<QString, int> held;
    return held;
}
} // namespace

QString lockPath() {
    const QString dir = paths::runtimeDir();
    return dir.isEmpty() ? QString() : dir + QStringLiteral("/lomex.lock");
}

Claim claimInstance(const QString& path) {
    if (path.isEmpty() || !isPrivateFolder(QFileInfo(path).absolutePath())) return Claim::unavailable;
    if (heldLocks().contains(path)) return Claim::owner;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return Claim::unavailable;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool held = errno == EWOULDBLOCK;
        ::close(fd);
        return held ? Claim::other : Claim::unavailable;
    }
    heldLocks().insert(path, fd);
    return Claim::owner;
}

SendResult handOver(const QString& command, int waitMs, const QString& socket, const QString& lock) {
    QElapsedTimer elapsed;
    elapsed.start();
    for (;;) {
        SendResult result = send(command, 2000, socket);
        if (result.delivered || !result.notRunning) return result;
        // Nobody listens yet: the owner is still starting, or it has just quit and let go.
        if (claimInstance(lock) == Claim::owner) {
            result.error = QStringLiteral("the running Lomex has quit");
            return result;
        }
        if (elapsed.elapsed() >= waitMs) {
            result.notRunning = false;
            result.error = QStringLiteral("the running Lomex did not answer within %1 s").arg(waitMs / 1000);
            return result;
        }
        QThread::msleep(100);
    }
}

SendResult send(const QString& command, int timeoutMs, const QString& path) {
    SendResult result;
    QByteArray line = command.toUtf8();
    if (line.contains('\n') || line.size() >= kMaxLine) {
        result.error = QStringLiteral("the command must be one line shorter than %1 bytes").arg(kMaxLine);
        return result;
    }
    if (path.isEmpty()) {
        result.notRunning = true;
        result.error = QString::fromLatin1(noFolder);
        return result;
    }
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(timeoutMs)) {
        const auto error = socket.error();
        result.notRunning = error == QLocalSocket::ServerNotFoundError || error == QLocalSocket::ConnectionRefusedError;
        result.error = QStringLiteral("no running Lomex answers on %1 (%2)").arg(path, socket.errorString());
        return result;
    }
    if (!isOurs(socket)) {
        socket.abort();
        result.error = QStringLiteral("the socket %1 belongs to another account; nothing was sent").arg(path);
        return result;
    }
    socket.write(line + '\n');
    if (!socket.waitForBytesWritten(timeoutMs)) {
        result.error = QStringLiteral("could not send the command: ") + socket.errorString();
        return result;
    }
    QByteArray answer;
    while (!answer.contains('\n') && answer.size() < kMaxLine) {
        if (!socket.bytesAvailable() && !socket.waitForReadyRead(timeoutMs)) break;
        answer += socket.read(kMaxLine - answer.size());
    }
    const int nl = answer.indexOf('\n');
    if (nl < 0) {
        result.error = QStringLiteral("the running Lomex gave no answer");
        return result;
    }
    const QString text = QString::fromUtf8(answer.left(nl));
    result.delivered = true;
    if (text == QLatin1String("ok") || text.startsWith(QLatin1String("ok "))) {
        result.reply = {true, text.mid(3)};
    } else {
        result.reply = {false, text.startsWith(QLatin1String("error ")) ? text.mid(6) : text};
    }
    return result;
}

bool isAnswered(const QString& path, int timeoutMs) {
    if (path.isEmpty() || !QFileInfo::exists(path)) return false;
    QLocalSocket probe;
    probe.connectToServer(path);
    return probe.waitForConnected(timeoutMs) && isOurs(probe);
}

} // namespace debugchannel

DebugChannelServer::DebugChannelServer(Handler handler, QObject* parent)
    : QObject(parent), handler_(std::move(handler)) {}

DebugChannelServer::~DebugChannelServer() { close(); }

bool DebugChannelServer::isListening() const { return server_ && server_->isListening(); }

bool DebugChannelServer::listen(const QString& path) {
    close();
    error_.clear();
    if (path.isEmpty()) {
        error_ = QString::fromLatin1(debugchannel::noFolder);
        return false;
    }
    // The folder must be ours and closed to others; otherwise someone else could stand in
    // for the socket.
    const QString dir = QFileInfo(path).absolutePath();
    if (!debugchannel::isPrivateFolder(dir)) {
        error_ = "runtime folder " + dir + " is missing or not private";
        return false;
    }
    if (QFileInfo::exists(path)) {
        if (debugchannel::isAnswered(path)) {
            error_ = "another Lomex already listens on " + path;
            return false;
        }
        QLocalServer::removeServer(path); // left behind by a process that is gone
    }
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(path)) {
        error_ = server_->errorString();
        delete server_;
        server_ = nullptr;
        return false;
    }
    connect(server_, &QLocalServer::newConnection, this, &DebugChannelServer::accept);
    return true;
}

void DebugChannelServer::close() {
    if (!server_) return;
    server_->close();
    delete server_;
    server_ = nullptr;
}

void DebugChannelServer::accept() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        socket->setParent(this);
        QPointer<QLocalSocket> guard(socket);
        // A client that never finishes its line is dropped.
        QTimer::singleShot(5000, socket, [guard] {
            if (guard) guard->abort();
        });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        // The part of the line read so far; once answered, the connection is only closing.
        struct Pending {
            QByteArray line;
            bool answered = false;
        };
        auto pending = std::make_shared<Pending>();
        connect(socket, &QLocalSocket::readyRead, this, [this, guard, pending] {
            if (!guard || pending->answered) return;
            QByteArray& buf = pending->line;
            buf += guard->read(debugchannel::kMaxLine + 1 - buf.size());
            const int nl = buf.indexOf('\n');
            if (nl < 0) {
                if (buf.size() > debugchannel::kMaxLine) {
                    guard->write("error command too long\n");
                    pending->answered = true;
                    guard->disconnectFromServer();
                }
                return;
            }
            pending->answered = true;
            const QString command = QString::fromUtf8(buf.left(nl)).trimmed();
            debugchannel::Reply reply = handler_ ? handler_(command) : debugchannel::Reply{false, "no handler"};
            if (!guard) return;
            QByteArray out = reply.ok ? QByteArray("ok") : QByteArray("error");
            QString text = reply.text;
            text.replace('\n', ' ');
            if (!text.isEmpty()) out += ' ' + text.toUtf8();
            guard->write(out + '\n');
            guard->flush();
            guard->disconnectFromServer();
        });
    }
}

} // namespace lomex
