#pragma once
#include <QObject>
#include <QString>
#include <functional>

class QLocalServer;

namespace lomex {

// A local command channel for scripts and tests: `lomex --show CMD` connects to the running
// app's socket in the runtime folder, sends one line and reads one line back.
// Request: the command in UTF-8 and "\n" (at most kMaxLine bytes).
// Reply:   "ok" or "ok <text>" when the app took the command, "error <text>" otherwise.
namespace debugchannel {

constexpr int kMaxLine = 4096;

struct Reply {
    bool ok = false;
    QString text;
};

// $XDG_RUNTIME_DIR/lomex-debug.sock (or the private fallback folder).
QString socketPath();

struct SendResult {
    bool delivered = false; // a running app answered
    bool notRunning = false; // nothing listens on the socket at all
    Reply reply;
    QString error;          // why nothing was delivered
};

// True when a running app answers on the socket (it is the one instance of this user).
bool isAnswered(const QString& path = socketPath(), int timeoutMs = 300);

// The session's one Lomex: whoever holds the lock on this file beside the socket (flock), from
// before anything starts until it exits; the kernel lets go of it when the process ends, however
// it ends. Of several starts at once exactly one takes it.
QString lockPath();
enum class Claim {
    owner,       // taken: this process is the session's Lomex, for the rest of its life
    other,       // another process holds it
    unavailable, // no private runtime folder, or the file cannot be opened: nothing decides
};
// Tries once, without waiting. Child processes do not inherit the lock.
Claim claimInstance(const QString& path = lockPath());

// For a start that is not the owner: hands the command to the running app, waiting up to
// waitMs for the owner (which may still be starting) to answer. Gives up early, with
// notRunning set, when the owner has gone and the lock is free again (the caller may take it).
SendResult handOver(const QString& command, int waitMs, const QString& socket = socketPath(),
                    const QString& lock = lockPath());

// Blocking client: connects, sends, waits up to timeoutMs for the answer.
SendResult send(const QString& command, int timeoutMs = 5000, const QString& path = socketPath());

} // namespace debugchannel

class DebugChannelServer : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<debugchannel::Reply(const QString& command)>;

    explicit DebugChannelServer(Handler handler, QObject* parent = nullptr);
    ~DebugChannelServer() override;

    // Listens on path (socketPath() by default), readable and writable by this user only.
    // Refuses when another running app already answers there, or the folder is not private.
    bool listen(const QString& path = debugchannel::socketPath());
    void close();
    bool isListening() const;
    QString error() const { return error_; }

private:
    void accept();
    Handler handler_;
    QLocalServer* server_ = nullptr;
    QString error_;
};

} // namespace lomex
