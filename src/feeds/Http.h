#pragma once
#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>

class QNetworkAccessManager;

namespace lomex {
class Clock;
}

namespace lomex::http {

// One GET of a feed. Secrets (an access key, a bearer token) go in headers only: URLs end up
// in logs, proxies and error texts, headers do not.
struct Request {
    QUrl url;
    QList<QPair<QByteArray, QByteArray>> headers;
    double timeoutSeconds = 15;
    qint64 maxBytes = 4 << 20; // a longer answer is cut off and counts as failed
};

struct Response {
    int status = 0;     // HTTP status; 0 when no answer arrived
    QByteArray body;
    QString error;      // empty when a whole answer arrived, whatever its status
    bool timedOut = false;
    bool ok() const { return error.isEmpty() && status >= 200 && status < 300; }
    // For a log line: the error, else the status.
    QString describe() const { return error.isEmpty() ? QStringLiteral("status %1").arg(status) : error; }
};

// The feeds' HTTP client over QNetworkAccessManager, on the GUI thread: bounded answers, a
// timeout on the injected clock, https only (plain http only to loopback), at most 3 redirects,
// each hop held to the same rule and never from https to http; the request's headers go to its
// own origin only. It logs nothing; callers log host and path, never headers.
class Client : public QObject {
    Q_OBJECT
public:
    explicit Client(Clock* clock = nullptr, QObject* parent = nullptr);
    ~Client() override;

    // Starts the request; done runs later on this thread unless context is gone by then.
    void get(const Request& request, QObject* context, std::function<void(const Response&)> done);

    // The process-wide client for the static searches (GUI thread).
    static Client& shared();

    // Requests started and finished so far (tests: none made; a late answer has been handled).
    int started() const { return started_; }
    int finished() const { return finished_; }

private:
    struct Job;
    void sendHop(const std::shared_ptr<Job>& job);
    void complete(const std::shared_ptr<Job>& job, const Response& response);

    Clock* clock_;
    QNetworkAccessManager* manager_;
    int started_ = 0;
    int finished_ = 0;
};

// Logs a service that stopped answering once, not at every attempt while it stays away; the
// next good answer arms it again. GUI thread.
class FailureLog {
public:
    explicit FailureLog(QString prefix) : prefix_(std::move(prefix)) {}
    void note(const Response& response, bool answered);

private:
    QString prefix_;
    bool logged_ = false;
};

// Tells the current load from superseded ones: each load takes a ticket, and anything that
// changes what a load is for (a new stop, a new key, a new place) moves the counter on, so a
// late reply for the old state is dropped instead of filling the new one.
class LoadCounter {
public:
    quint64 begin() { return ++current_; }
    void invalidate() { ++current_; }
    bool isCurrent(quint64 ticket) const { return ticket == current_; }

private:
    quint64 current_ = 0;
};

// Where a redirect from `from` to `location` may go: the same rule as a first address, and never
// from https down to http; nullopt when it may not be followed.
std::optional<QUrl> redirectTarget(const QUrl& from, const QUrl& location);

// "host/path" of a URL for a log line: no query, no user info.
QString logName(const QUrl& url);

} // namespace lomex::http
