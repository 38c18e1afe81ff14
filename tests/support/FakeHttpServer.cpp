#include "FakeHttpServer.h"
#include <QTcpSocket>
#include <QTimer>

namespace lomex::test {

namespace {
QByteArray reasonPhrase(int status) {
    switch (status) {
    case 200: return "OK";
    case 204: return "No Content";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 429: return "Too Many Requests";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}
} // namespace

FakeHttpServer::FakeHttpServer(QObject* parent) : QObject(parent) {
    connect(&server_, &QTcpServer::newConnection, this, &FakeHttpServer::onConnection);
}

FakeHttpServer::~FakeHttpServer() {
    // Connections still open (a delayed answer) close with the server; their handlers must not
    // reach the tables, which are gone by then.
    for (QTcpSocket* socket : server_.findChildren<QTcpSocket*>()) {
        socket->disconnect(this);
        delete socket;
    }
}

bool FakeHttpServer::listen(const QString& address) {
    const QHostAddress host(address);
    return host.isLoopback() && server_.listen(host, 0);
}

void FakeHttpServer::route(const QByteArray& method, const QString& path, Reply reply) {
    route(method, path, [reply](const Request&) { return reply; });
}

void FakeHttpServer::route(const QByteArray& method, const QString& path, Handler handler) {
    routes_[QString::fromLatin1(method) + ' ' + path] = std::move(handler);
}

QList<FakeHttpServer::Request> FakeHttpServer::requestsTo(const QString& path) const {
    QList<Request> out;
    for (const auto& r : requests_)
        if (r.path == path) out << r;
    return out;
}

void FakeHttpServer::onConnection() {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { handle(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            buffers_.remove(socket);
            socket->deleteLater();
        });
    }
}

void FakeHttpServer::handle(QTcpSocket* socket) {
    QByteArray& buf = buffers_[socket];
    buf += socket->readAll();
    const int headEnd = buf.indexOf("\r\n\r\n");
    if (headEnd < 0) return;
    const QList<QByteArray> lines = buf.left(headEnd).split('\n');
    Request req;
    const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
    req.method = first.value(0);
    req.url = QUrl(QString::fromUtf8(first.value(1)));
    req.path = req.url.path();
    qsizetype length = 0;
    for (int i = 1; i < lines.size(); ++i) {
        const int colon = lines[i].indexOf(':');
        if (colon <= 0) continue;
        const QByteArray name = lines[i].left(colon).trimmed().toLower();
        req.headers[name] = lines[i].mid(colon + 1).trimmed();
        if (name == "content-length") length = lines[i].mid(colon + 1).trimmed().toLongLong();
    }
    if (buf.size() - (headEnd + 4) < length) return;
    req.body = buf.mid(headEnd + 4, length);
    buf.clear();
    requests_ << req;

    Reply reply;
    auto it = routes_.find(QString::fromLatin1(req.method) + ' ' + req.path);
    if (it == routes_.end()) reply.status = 404;
    else reply = (*it)(req);

    auto send = [socket, reply] {
        if (reply.drop) {
            socket->abort();
            return;
        }
        QByteArray out = "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + reasonPhrase(reply.status) + "\r\n";
        for (auto h = reply.headers.begin(); h != reply.headers.end(); ++h) out += h.key() + ": " + h.value() + "\r\n";
        out += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\nConnection: close\r\n\r\n" + reply.body;
        socket->write(out);
        socket->disconnectFromHost();
    };
    if (reply.delayMs > 0) QTimer::singleShot(reply.delayMs, socket, send);
    else send();
}

} // namespace lomex::test
