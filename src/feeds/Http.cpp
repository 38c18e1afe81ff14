#include "feeds/Http.h"
#include "core/Clock.h"
#include "core/Log.h"
#include "feeds/Endpoints.h"
#include <QMetaObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <memory>

namespace lomex::http {

namespace {
constexpr int kMaxRedirects = 3;

bool sameOrigin(const QUrl& a, const QUrl& b) {
    return a.scheme().compare(b.scheme(), Qt::CaseInsensitive) == 0 &&
           a.host().compare(b.host(), Qt::CaseInsensitive) == 0 && a.port(-1) == b.port(-1);
}

bool isRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}
} // namespace

// One request across its redirect hops.
struct Client::Job {
    Request request; // url and headers of the hop in flight
    std::function<void(const Response&)> finish;
    QPointer<QNetworkReply> reply;
    Timer* timer = nullptr;
    QByteArray body;
    int redirects = 0;
    bool timedOut = false;
    bool tooLarge = false;
};

Client::Client(Clock* clock, QObject* parent)
    : QObject(parent), clock_(clock ? clock : Clock::current()), manager_(new QNetworkAccessManager(this)) {
    // Redirects are followed here, hop by hop, so each hop is checked like the first address.
    manager_->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
}

Client::~Client() = default;

Client& Client::shared() {
    static Client* client = new Client(Clock::system());
    return *client;
}

QString logName(const QUrl& url) {
    return url.host() + url.path();
}

std::optional<QUrl> redirectTarget(const QUrl& from, const QUrl& location) {
    if (!location.isValid()) return std::nullopt;
    const QUrl target = from.resolved(location);
    if (!endpoints::isAllowed(target)) return std::nullopt;
    const bool downgrade = from.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 &&
                           target.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) != 0;
    if (downgrade) return std::nullopt;
    return target;
}

void Client::get(const Request& request, QObject* context, std::function<void(const Response&)> done) {
    QPointer<QObject> guard(context);
    auto finish = [guard, done](const Response& response) {
        if (guard) done(response);
    };
    if (!endpoints::isAllowed(request.url)) {
        Response refused;
        refused.error = QStringLiteral("refused: not https");
        QMetaObject::invokeMethod(this, [finish, refused] { finish(refused); }, Qt::QueuedConnection);
        return;
    }
    ++started_;
    auto job = std::make_shared<Job>();
    job->request = request;
    job->finish = std::move(finish);
    // One deadline for the whole request, redirects included.
    job->timer = new Timer(clock_, this);
    connect(job->timer, &Timer::timeout, this, [job] {
        job->timedOut = true;
        if (job->reply) job->reply->abort();
    });
    job->timer->start(request.timeoutSeconds);
    sendHop(job);
}

void Client::sendHop(const std::shared_ptr<Job>& job) {
    QNetworkRequest nr(job->request.url);
    nr.setHeader(QNetworkRequest::UserAgentHeader, QByteArray("Lomex/" LOMEX_VERSION));
    for (const auto& [name, value] : job->request.headers) nr.setRawHeader(name, value);
    QNetworkReply* reply = manager_->get(nr);
    job->reply = reply;
    job->body.clear();
    const qint64 maxBytes = job->request.maxBytes;
    // Only what has arrived is read: asking for the whole budget would allocate it every time.
    const auto take = [reply, job, maxBytes] {
        const qint64 room = maxBytes + 1 - job->body.size();
        const qint64 n = std::min(room, reply->bytesAvailable());
        if (n > 0) job->body += reply->read(n);
        if (job->body.size() > maxBytes) job->tooLarge = true;
    };
    connect(reply, &QNetworkReply::readyRead, reply, [reply, job, take] {
        if (job->tooLarge || job->timedOut) return;
        take();
        if (job->tooLarge) reply->abort();
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, job, take] {
        reply->deleteLater();
        if (!job->tooLarge && !job->timedOut) take();
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (!job->tooLarge && !job->timedOut && isRedirect(status)) {
            const QUrl location = QUrl::fromEncoded(reply->rawHeader("Location"), QUrl::StrictMode);
            const auto target = redirectTarget(job->request.url, location);
            Response refused;
            if (!target) refused.error = QStringLiteral("refused: redirect not https");
            else if (job->redirects >= kMaxRedirects) refused.error = QStringLiteral("too many redirects");
            if (!refused.error.isEmpty()) return complete(job, refused);
            ++job->redirects;
            // The key and token are for the host they were given for.
            if (!sameOrigin(job->request.url, *target)) job->request.headers.clear();
            job->request.url = *target;
            return sendHop(job);
        }
        Response response;
        response.status = status;
        if (job->timedOut) {
            response.timedOut = true;
            response.error = QStringLiteral("timed out");
            response.status = 0;
        } else if (job->tooLarge) {
            response.error = QStringLiteral("answer too large");
        } else if (response.status == 0) {
            response.error = reply->errorString();
            if (response.error.isEmpty()) response.error = QStringLiteral("no answer");
        } else {
            response.body = std::move(job->body);
        }
        complete(job, response);
    });
}

void Client::complete(const std::shared_ptr<Job>& job, const Response& response) {
    ++finished_;
    job->timer->deleteLater();
    job->timer = nullptr;
    job->finish(response);
}

void FailureLog::note(const Response& response, bool answered) {
    if (answered) {
        logged_ = false;
        return;
    }
    if (logged_) return;
    logged_ = true;
    log(prefix_ + response.describe());
}

} // namespace lomex::http
