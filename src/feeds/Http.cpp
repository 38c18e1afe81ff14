#include "feeds/Http.h"
#include "core/Clock.h"
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
} // namespace

Client::Client(Clock* clock, QObject* parent)
    : QObject(parent), clock_(clock ? clock : Clock::current()), manager_(new QNetworkAccessManager(this)) {
    manager_->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
}

Client::~Client() = default;

Client& Client::shared() {
    static Client* client = new Client(Clock::system());
    return *client;
}

QString logName(const QUrl& url) {
    return url.host() + url.path();
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
    QNetworkRequest nr(request.url);
    nr.setMaximumRedirectsAllowed(kMaxRedirects);
    nr.setHeader(QNetworkRequest::UserAgentHeader, QByteArray("Lomex/" LOMEX_VERSION));
    for (const auto& [name, value] : request.headers) nr.setRawHeader(name, value);
    QNetworkReply* reply = manager_->get(nr);

    struct State {
        QByteArray body;
        bool timedOut = false;
        bool tooLarge = false;
    };
    auto state = std::make_shared<State>();
    auto* timer = new Timer(clock_, reply);
    connect(timer, &Timer::timeout, reply, [reply, state] {
        state->timedOut = true;
        reply->abort();
    });
    timer->start(request.timeoutSeconds);
    const qint64 maxBytes = request.maxBytes;
    connect(reply, &QNetworkReply::readyRead, reply, [reply, state, maxBytes] {
        if (state->tooLarge) return;
        state->body += reply->read(maxBytes + 1 - state->body.size());
        if (state->body.size() > maxBytes) {
            state->tooLarge = true;
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, state, finish, maxBytes] {
        reply->deleteLater();
        ++finished_;
        Response response;
        if (!state->tooLarge && !state->timedOut) {
            state->body += reply->read(maxBytes + 1 - state->body.size());
            if (state->body.size() > maxBytes) state->tooLarge = true;
        }
        response.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (state->timedOut) {
            response.timedOut = true;
            response.error = QStringLiteral("timed out");
            response.status = 0;
        } else if (state->tooLarge) {
            response.error = QStringLiteral("answer too large");
        } else if (response.status == 0) {
            response.error = reply->errorString();
            if (response.error.isEmpty()) response.error = QStringLiteral("no answer");
        } else {
            response.body = std::move(state->body);
        }
        finish(response);
    });
}

} // namespace lomex::http
