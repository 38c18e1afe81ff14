#include "agents/EventServer.h"
#include "agents/HttpRequest.h"
#include "core/Log.h"
#include "platform/PeerAccount.h"
#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <map>

namespace lomex {

namespace detail {

// What the owner, the server thread and reply functions share.
struct ServerShared {
    std::mutex mutex;
    ServerWorker* worker = nullptr; // null once the server is stopping
    std::optional<QString> lastError;
    bool listening = false;
};

struct ReplyState {
    std::weak_ptr<ServerShared> shared;
    quint64 id = 0;
    std::atomic<bool> used{false};
};

struct Callbacks {
    EventServer::EventHandler onEvent;
    std::function<void()> onQuit;
    std::function<void()> onSettings;
    std::function<void(const QByteArray&)> onUsage;
    EventServer::PermissionHandler onPermission;
    std::function<void(quint64)> onPermissionCancelled;
};

// Lives on the server thread; every member is touched only there.
class ServerWorker : public QObject {
public:
    ServerWorker(quint16 port, EventServer::Limits limits, Callbacks callbacks,
                 std::shared_ptr<ServerShared> shared)
        : port_(port), limits_(limits), callbacks_(std::move(callbacks)), shared_(std::move(shared))
    {
    }

    void begin()
    {
        monotonic_.start();
        server_ = new QTcpServer(this);
        // Room for a burst of hooks while a flood of connections is being worked off.
        server_->setListenBacklogSize(1024);
        // Accepted sockets are taken at once; Qt's own queue only matters between two reads.
        server_->setMaxPendingConnections(1024);
        connect(server_, &QTcpServer::newConnection, this, &ServerWorker::accept);
        connect(server_, &QTcpServer::acceptError, this, [this](QAbstractSocket::SocketError) {
            // Typically out of descriptors: Qt pauses accepting; try again later.
            setState(State::waiting, server_->errorString());
            QTimer::singleShot(limits_.restartDelayMs, this, [this] {
                if (server_ && !stopping_)
                    server_->resumeAccepting();
            });
        });
        listen();
    }

    void shutdown()
    {
        stopping_ = true;
        if (server_)
            closeEverything();
        setListening(false);
        // No affinity left, so the owner may delete this object once the thread has ended.
        moveToThread(nullptr);
    }

    void closeEverything()
    {
        server_->close();
        for (auto& [id, connection] : connections_) {
            QTcpSocket* socket = connection->socket;
            socket->disconnect(this);
            if (connection->state == Connection::State::held) {
                socket->write(response("200 OK", QByteArray()));
                socket->flush();
                socket->disconnectFromHost();
            } else {
                socket->abort();
            }
        }
        connections_.clear();
        delete server_; // also deletes every socket and its timers
        server_ = nullptr;
    }

    void answerHeld(quint64 id, const std::optional<QString>& text)
    {
        auto it = connections_.find(id);
        if (it == connections_.end() || it->second->state != Connection::State::held)
            return;
        --held_;
        finish(it, "200 OK", text.value_or(QString()).toUtf8());
    }

private:
    enum class State { none, ready, waiting, failed };

    struct Connection {
        enum class State { reading, held };
        QTcpSocket* socket = nullptr;
        QTimer* deadline = nullptr;
        RequestReader reader;
        State state = State::reading;
        qsizetype buffered = 0; // counted in buffered_
        qint64 acceptedAt = 0;  // on monotonic_
        Connection(qsizetype maxBytes, qsizetype maxHeadBytes) : reader(maxBytes, maxHeadBytes) {}
    };
    // Ordered by id, which is the order of arrival.
    using Connections = std::map<quint64, std::unique_ptr<Connection>>;

    void listen()
    {
        if (stopping_)
            return;
        if (server_->listen(QHostAddress(QHostAddress::LocalHost), port_)) {
            setState(State::ready, std::nullopt);
            return;
        }
        setState(State::failed, server_->errorString());
        QTimer::singleShot(limits_.restartDelayMs, this, [this] {
            if (server_ && !stopping_ && !server_->isListening())
                listen();
        });
    }

    // Logs only when the state or its error changes, so a busy port does not log every second.
    void setState(State state, const std::optional<QString>& error)
    {
        const bool changed = state != state_ || error != lastLoggedError_;
        state_ = state;
        lastLoggedError_ = error;
        {
            std::lock_guard lock(shared_->mutex);
            shared_->lastError = error;
            shared_->listening = server_ && server_->isListening();
        }
        if (!changed)
            return;
        if (state == State::failed)
            log(QStringLiteral("server not listening (%1), retrying").arg(error.value_or(QString())));
        else if (state == State::waiting)
            log(QStringLiteral("server waiting (%1)").arg(error.value_or(QString())));
    }

    void setListening(bool listening)
    {
        std::lock_guard lock(shared_->mutex);
        shared_->listening = listening;
    }

    void accept()
    {
        while (server_->hasPendingConnections()) {
            QTcpSocket* socket = server_->nextPendingConnection();
            if (state_ == State::waiting)
                setState(State::ready, std::nullopt);
            if (stopping_ || !fromOwnAccount(socket)) {
                socket->abort();
                socket->deleteLater();
                continue;
            }
            if (waiting_ >= limits_.maxWaitingConnections)
                dropOldestWaiting();
            const quint64 id = nextID_++;
            auto connection = std::make_unique<Connection>(limits_.maxRequestBytes, limits_.maxHeadBytes);
            connection->socket = socket;
            connection->acceptedAt = monotonic_.elapsed();
            connection->deadline = new QTimer(socket);
            connection->deadline->setSingleShot(true);
            connect(connection->deadline, &QTimer::timeout, this, [this, id] { drop(id); });
            connection->deadline->start(limits_.requestTimeoutMs);
            connect(socket, &QTcpSocket::readyRead, this, [this, id] { readFrom(id); });
            connect(socket, &QTcpSocket::disconnected, this, [this, id] { gone(id); });
            connections_.emplace(id, std::move(connection));
            ++waiting_;
            // A real hook sends its request right after connecting: take what the system holds
            // now, so a hook accepted in one batch with many stalled connections completes
            // before those can push it out as the oldest.
            if (socket->bytesAvailable() > 0)
                readFrom(id);
            else
                socket->waitForReadyRead(0); // emits readyRead when bytes are there
        }
    }

    void readFrom(quint64 id)
    {
        auto it = connections_.find(id);
        if (it == connections_.end())
            return;
        Connection& connection = *it->second;
        if (connection.state == Connection::State::held) {
            connection.socket->readAll(); // nothing more is read from a held request
            return;
        }
        while (connection.socket->bytesAvailable() > 0) {
            const QByteArray chunk = connection.socket->read(65'536);
            const RequestReader::Status status = connection.reader.feed(chunk);
            count(connection, connection.reader.bufferedBytes());
            switch (status) {
            case RequestReader::Status::needMore:
                if (buffered_ > limits_.maxBufferedBytes && !relieveMemory(id))
                    return; // this connection was the one closed
                continue;
            case RequestReader::Status::complete:
                --waiting_;
                connection.deadline->stop();
                count(connection, 0);
                route(it, connection.reader.takeRequest());
                return;
            case RequestReader::Status::malformed:
            case RequestReader::Status::tooLarge:
                drop(id);
                return;
            }
        }
    }

    bool fromOwnAccount(QTcpSocket* socket) const
    {
        if (!limits_.ownAccountOnly)
            return true;
        const std::optional<uint> uid = peeraccount::loopbackPeerUid(socket->peerPort(), socket->localPort());
        return uid && *uid == peeraccount::ownUid();
    }

    void count(Connection& connection, qsizetype bytes)
    {
        buffered_ += bytes - connection.buffered;
        connection.buffered = bytes;
    }

    // Closes the connections holding the most unfinished bytes until the total fits again.
    // False when the connection `current` was among them.
    bool relieveMemory(quint64 current)
    {
        bool currentAlive = true;
        while (buffered_ > limits_.maxBufferedBytes) {
            auto largest = connections_.end();
            for (auto it = connections_.begin(); it != connections_.end(); ++it) {
                if (it->second->state == Connection::State::reading
                    && (largest == connections_.end() || it->second->buffered > largest->second->buffered))
                    largest = it;
            }
            if (largest == connections_.end() || largest->second->buffered == 0)
                break;
            currentAlive = currentAlive && largest->first != current;
            drop(largest->first);
        }
        return currentAlive;
    }

    // Makes room for one more connection: the oldest one still sending goes. A connection
    // whose request has arrived by now is served instead, and one accepted in the last
    // evictionGraceMs is spared while the table is below its hard cap, since under a flood a
    // real hook can be the oldest by a hair, its bytes not read yet.
    void dropOldestWaiting()
    {
        const qint64 now = monotonic_.elapsed();
        std::optional<quint64> oldest;
        auto it = connections_.begin();
        while (waiting_ >= limits_.maxWaitingConnections && it != connections_.end()) {
            const quint64 id = it->first;
            if (it->second->state == Connection::State::reading) {
                it->second->socket->waitForReadyRead(0); // reads and serves what is there
                auto still = connections_.find(id);
                if (still != connections_.end() && still->second->state == Connection::State::reading) {
                    if (now - still->second->acceptedAt >= limits_.evictionGraceMs) {
                        drop(id);
                        return;
                    }
                    if (!oldest)
                        oldest = id;
                }
            }
            it = connections_.upper_bound(id);
        }
        if (oldest && waiting_ >= hardCap())
            drop(*oldest);
    }

    int hardCap() const { return 4 * limits_.maxWaitingConnections; }

    // The peer closed or the socket failed.
    void gone(quint64 id)
    {
        auto it = connections_.find(id);
        if (it == connections_.end())
            return;
        const bool wasHeld = it->second->state == Connection::State::held;
        forget(it);
        if (!wasHeld) {
            --waiting_; // its place among the connections still sending is free again
            return;
        }
        --held_;
        if (callbacks_.onPermissionCancelled)
            callbacks_.onPermissionCancelled(id);
    }

    // Closes a connection that is still sending its request, without an answer.
    void drop(quint64 id)
    {
        auto it = connections_.find(id);
        if (it == connections_.end() || it->second->state != Connection::State::reading)
            return;
        --waiting_;
        QTcpSocket* socket = it->second->socket;
        forget(it);
        socket->abort();
    }

    void forget(Connections::iterator it)
    {
        count(*it->second, 0);
        QTcpSocket* socket = it->second->socket;
        socket->disconnect(this);
        it->second->deadline->stop();
        connections_.erase(it);
        socket->deleteLater();
    }

    static QByteArray response(const QByteArray& status, const QByteArray& body)
    {
        return "HTTP/1.1 " + status + "\r\nContent-Type: text/plain\r\nContent-Length: "
               + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    }

    // Writes one response and closes; the connection leaves the table, so nothing else acts on it.
    void finish(Connections::iterator it, const QByteArray& status, const QByteArray& body)
    {
        QTcpSocket* socket = it->second->socket;
        count(*it->second, 0);
        socket->disconnect(this);
        it->second->deadline->stop();
        connections_.erase(it); // the deadline timer is the socket's child and goes with it
        connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->readAll(); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        // A client that does not read the answer cannot keep the socket forever.
        QTimer::singleShot(limits_.requestTimeoutMs, socket, [socket] { socket->abort(); });
        socket->write(response(status, body));
        socket->flush();
        socket->disconnectFromHost();
    }

    void answer(Connections::iterator it, const QByteArray& status)
    {
        finish(it, status, status.startsWith("200") ? QByteArray("ok") : status);
    }

    void route(Connections::iterator it, HTTPRequest request)
    {
        const auto& headers = request.headers;
        if (headers.count(QStringLiteral("origin")) || headers.count(QStringLiteral("sec-fetch-site")))
            return answer(it, "403 Forbidden");

        const bool post = request.method == u"POST";
        const QString& path = request.path;
        if (post && (path == u"/permission" || path == u"/event")) {
            const std::optional<HookEvent> event = HookEvent::decode(request.body, headers, request.query);
            if (!event)
                return answer(it, "400 Bad Request");
            if (callbacks_.onEvent)
                callbacks_.onEvent(*event);
            if (path == u"/event")
                return answer(it, "200 OK");
            if (!callbacks_.onPermission || held_ >= limits_.maxHeldPermissions)
                return finish(it, "200 OK", QByteArray());
            Connection& connection = *it->second;
            connection.state = Connection::State::held;
            ++held_;
            auto state = std::make_shared<ReplyState>();
            state->shared = shared_;
            state->id = it->first;
            callbacks_.onPermission(*event, PermissionReply(std::move(state)));
            return;
        }
        if (post && path == u"/usage") {
            // Never handed on: the app reads a report on its main thread.
            if (request.body.size() > limits_.maxUsageBodyBytes)
                return answer(it, "413 Payload Too Large");
            if (callbacks_.onUsage)
                callbacks_.onUsage(request.body);
            return answer(it, "200 OK");
        }
        if (request.method == u"GET" && path == u"/health")
            return answer(it, "200 OK");
        if (post && path == u"/quit") {
            if (callbacks_.onQuit)
                QTimer::singleShot(limits_.quitDelayMs, this, callbacks_.onQuit);
            return answer(it, "200 OK");
        }
        if (post && path == u"/settings") {
            if (callbacks_.onSettings)
                callbacks_.onSettings();
            return answer(it, "200 OK");
        }
        answer(it, "404 Not Found");
    }

    const quint16 port_;
    const EventServer::Limits limits_;
    const Callbacks callbacks_;
    const std::shared_ptr<ServerShared> shared_;
    QTcpServer* server_ = nullptr;
    Connections connections_;
    quint64 nextID_ = 1;
    int waiting_ = 0;
    int held_ = 0;
    qsizetype buffered_ = 0;
    QElapsedTimer monotonic_;
    bool stopping_ = false;
    State state_ = State::none;
    std::optional<QString> lastLoggedError_;
};

} // namespace detail

PermissionReply::PermissionReply(std::shared_ptr<detail::ReplyState> state)
    : state_(std::move(state))
{
}

quint64 PermissionReply::id() const { return state_ ? state_->id : 0; }

void PermissionReply::operator()(const std::optional<QString>& text) const
{
    if (!state_ || state_->used.exchange(true))
        return;
    const std::shared_ptr<detail::ServerShared> shared = state_->shared.lock();
    if (!shared)
        return;
    // Posting under the lock: stop() clears the worker under the same lock before it goes away.
    std::lock_guard lock(shared->mutex);
    detail::ServerWorker* worker = shared->worker;
    if (!worker)
        return;
    QMetaObject::invokeMethod(
        worker, [worker, id = state_->id, text] { worker->answerHeld(id, text); }, Qt::QueuedConnection);
}

EventServer::EventServer(quint16 port, EventHandler onEvent)
    : EventServer(port, std::move(onEvent), Limits{})
{
}

EventServer::EventServer(quint16 port, EventHandler onEvent, Limits limits)
    : port_(port), onEvent_(std::move(onEvent)), limits_(limits),
      shared_(std::make_shared<detail::ServerShared>())
{
}

EventServer::~EventServer() { stop(); }

std::optional<LomexError> EventServer::start()
{
    std::lock_guard lock(control_);
    if (port_ == 0)
        return LomexError{QStringLiteral("Lomex"), 1, QStringLiteral("Invalid port %1").arg(port_)};
    if (thread_ || stopped_)
        return std::nullopt;
    detail::Callbacks callbacks{onEvent_, onQuit, onSettings, onUsage, onPermission, onPermissionCancelled};
    thread_ = std::make_unique<QThread>();
    thread_->setObjectName(QStringLiteral("cz.lomex.agents.server"));
    worker_ = new detail::ServerWorker(port_, limits_, std::move(callbacks), shared_);
    worker_->moveToThread(thread_.get());
    {
        std::lock_guard sharedLock(shared_->mutex);
        shared_->worker = worker_;
    }
    thread_->start();
    QMetaObject::invokeMethod(worker_, [worker = worker_] { worker->begin(); }, Qt::BlockingQueuedConnection);
    return std::nullopt;
}

void EventServer::stop()
{
    std::lock_guard lock(control_);
    stopped_ = true;
    if (!thread_)
        return;
    if (QThread::currentThread() == thread_.get()) {
        logWarning(QStringLiteral("EventServer::stop() called on the server thread; ignored"));
        return;
    }
    {
        std::lock_guard sharedLock(shared_->mutex);
        shared_->worker = nullptr;
    }
    // Replies posted before this point are handled first, so they still reach their clients.
    QMetaObject::invokeMethod(worker_, [worker = worker_] { worker->shutdown(); }, Qt::BlockingQueuedConnection);
    thread_->quit();
    thread_->wait();
    delete worker_;
    worker_ = nullptr;
    thread_.reset();
}

std::optional<QString> EventServer::lastError() const
{
    std::lock_guard lock(shared_->mutex);
    return shared_->lastError;
}

bool EventServer::isListening() const
{
    std::lock_guard lock(shared_->mutex);
    return shared_->listening;
}

} // namespace lomex
