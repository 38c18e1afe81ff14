#pragma once
#include "agents/HookEvent.h"
#include "core/LomexError.h"
#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class QThread;

namespace lomex {

namespace detail {
struct ServerShared;
class ServerWorker;
struct ReplyState;
} // namespace detail

// Answers one held permission request. Copies share one answer: the first call wins, later calls
// (and calls after the server is gone or the client hung up) do nothing. Callable from any thread.
class PermissionReply {
public:
    PermissionReply() = default;
    // Sends "200 OK" with the text (empty when absent) as the body and closes the connection.
    void operator()(const std::optional<QString>& text = std::nullopt) const;
    // Identifies the request in onPermissionCancelled; 0 for a default-made reply.
    quint64 id() const;

private:
    friend class detail::ServerWorker;
    explicit PermissionReply(std::shared_ptr<detail::ReplyState> state);
    std::shared_ptr<detail::ReplyState> state_;
};

// The loopback HTTP endpoint the agents' hook commands post to. Runs on its own thread; the
// callbacks are called there and must return quickly.
class EventServer final {
public:
    struct Limits {
        // Time a connection has to deliver its whole request.
        int requestTimeoutMs = 10'000;
        // Connections still sending their request; at the cap the one that has waited longest
        // is closed to make room, so stalled clients cannot shut out real hooks.
        int maxWaitingConnections = 64;
        // A connection younger than this is not pushed out while fewer than four times the cap
        // are open: it may be a hook whose request is on its way.
        int evictionGraceMs = 50;
        // Permission requests kept open for a reply; more are answered at once with no text.
        int maxHeldPermissions = 32;
        // Head plus body of one request.
        qsizetype maxRequestBytes = 8'388'608;
        // The head alone.
        qsizetype maxHeadBytes = 65'536;
        // The body of a status-line report ("/usage"): a real one is a few KiB, and it is read on
        // the app's main thread, so a larger one is refused with 413.
        qsizetype maxUsageBodyBytes = 64 << 10;
        // Bytes held for unfinished requests across all connections; past it the connection
        // holding the most is closed.
        qsizetype maxBufferedBytes = 40 << 20;
        // Connections from processes of other accounts are closed unanswered: a forged
        // permission request would otherwise be sent the approval token.
        bool ownAccountOnly = true;
        int restartDelayMs = 1'000;
        int quitDelayMs = 100;
    };

    using EventHandler = std::function<void(const HookEvent&)>;
    using PermissionHandler = std::function<void(const HookEvent&, PermissionReply)>;

    EventServer(quint16 port, EventHandler onEvent);
    EventServer(quint16 port, EventHandler onEvent, Limits limits);
    // Stops the server (answering held permissions) when still running.
    ~EventServer();
    EventServer(const EventServer&) = delete;
    EventServer& operator=(const EventServer&) = delete;

    quint16 port() const { return port_; }

    // Starts listening on 127.0.0.1:port on the server thread and returns once the first attempt
    // is made. A port that cannot be bound (busy) is retried every restartDelayMs and reported
    // through lastError(). Fails only for an impossible port (0). Does nothing when started or
    // stopped before. Set the callbacks first: the server thread uses copies made here.
    std::optional<LomexError> start();
    // Stops listening, answers every held permission with "200 OK" and an empty body, closes
    // every other connection and ends the server thread before returning. Final. Do not call it
    // from inside one of the callbacks.
    void stop();

    // Why the listener is not accepting right now (e.g. the port is in use); absent when fine.
    std::optional<QString> lastError() const;
    bool isListening() const;

    // Set before start(); read on the server thread only through the copies start() makes.
    std::function<void()> onQuit;
    std::function<void()> onSettings;
    std::function<void(const QByteArray& body)> onUsage;
    PermissionHandler onPermission;
    // A held permission's client hung up before a reply; the id is PermissionReply::id().
    std::function<void(quint64 replyID)> onPermissionCancelled;

private:
    const quint16 port_;
    const EventHandler onEvent_;
    const Limits limits_;
    std::mutex control_;
    bool stopped_ = false;
    std::unique_ptr<QThread> thread_;
    detail::ServerWorker* worker_ = nullptr;
    std::shared_ptr<detail::ServerShared> shared_;
};

} // namespace lomex
