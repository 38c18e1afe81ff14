#pragma once
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QUrl>
#include <functional>

namespace lomex::test {

// A small HTTP/1.1 server on 127.0.0.1 for feed tests: a route table of canned replies,
// recorded requests, optional delays and dropped connections. Runs on the thread's event loop.
class FakeHttpServer : public QObject {
    Q_OBJECT
public:
    struct Reply {
        int status = 200;
        QByteArray body;
        QMap<QByteArray, QByteArray> headers; // e.g. {"Content-Type", "application/json"}
        int delayMs = 0;                       // wait before answering
        bool drop = false;                     // close the connection without answering
    };
    struct Request {
        QByteArray method;
        QString path;   // without the query
        QUrl url;       // path and query
        QMap<QByteArray, QByteArray> headers; // names lower-cased
        QByteArray body;
    };
    using Handler = std::function<Reply(const Request&)>;

    explicit FakeHttpServer(QObject* parent = nullptr);
    ~FakeHttpServer() override;
    bool listen(const QString& address = QStringLiteral("127.0.0.1")); // ephemeral port on a loopback address
    quint16 port() const { return server_.serverPort(); }
    QString baseUrl() const { return QStringLiteral("http://%1:%2").arg(server_.serverAddress().toString()).arg(port()); }

    void route(const QByteArray& method, const QString& path, Reply reply);
    void route(const QByteArray& method, const QString& path, Handler handler);
    const QList<Request>& requests() const { return requests_; }
    void clearRequests() { requests_.clear(); }
    QList<Request> requestsTo(const QString& path) const;

private:
    void onConnection();
    void handle(class QTcpSocket* socket);

    QTcpServer server_;
    QHash<QString, Handler> routes_;
    QList<Request> requests_;
    QHash<QTcpSocket*, QByteArray> buffers_;
};

} // namespace lomex::test
