// What a feed reply costs the heap: the largest single allocation and the peak of live heap
// while a 2 KB departure board is fetched 100 times from a loopback server through the feeds'
// HTTP client (whose answers may be up to 4 MiB long). malloc is wrapped to see every block.
// Exits non-zero when a figure misses its limit.
#include "BenchSupport.h"
#include "core/Clock.h"
#include "feeds/Http.h"
#include <QCoreApplication>
#include <QTcpServer>
#include <QTcpSocket>
#include <atomic>
#include <cstdio>
#include <malloc.h>

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void __libc_free(void*);
}

namespace {
std::atomic<bool> counting{false};
std::atomic<size_t> largest{0};
std::atomic<long long> live{0}, peak{0};

void note(void* p, long long delta)
{
    if (!p || !counting.load(std::memory_order_relaxed)) return;
    const long long now = live.fetch_add(delta) + delta;
    long long top = peak.load();
    while (now > top && !peak.compare_exchange_weak(top, now)) {}
    if (delta > 0) {
        size_t big = largest.load();
        while (size_t(delta) > big && !largest.compare_exchange_weak(big, size_t(delta))) {}
    }
}
} // namespace

extern "C" {
void* malloc(size_t n)
{
    void* p = __libc_malloc(n);
    note(p, p ? (long long)malloc_usable_size(p) : 0);
    return p;
}
void* calloc(size_t n, size_t size)
{
    void* p = __libc_calloc(n, size);
    note(p, p ? (long long)malloc_usable_size(p) : 0);
    return p;
}
void* realloc(void* old, size_t n)
{
    const long long before = old ? (long long)malloc_usable_size(old) : 0;
    void* p = __libc_realloc(old, n);
    if (p) {
        note(old ? old : p, -before);
        note(p, (long long)malloc_usable_size(p));
    }
    return p;
}
void free(void* p)
{
    if (p) note(p, -(long long)malloc_usable_size(p));
    __libc_free(p);
}
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QByteArray body(2048, 'd');
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* s = server.nextPendingConnection()) {
            QObject::connect(s, &QTcpSocket::readyRead, s, [s, &body] {
                if (!s->readAll().contains("\r\n\r\n")) return;
                s->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
                         QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
                s->disconnectFromHost();
            });
            QObject::connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
        }
    });
    lomex::http::Client client(lomex::Clock::system());
    lomex::http::Request request;
    request.url = QUrl(QStringLiteral("http://127.0.0.1:%1/board").arg(server.serverPort()));
    int ok = 0;
    auto fetch = [&] {
        bool done = false;
        client.get(request, &client, [&](const lomex::http::Response& r) {
            ok += r.ok() && r.body == body;
            done = true;
        });
        while (!done) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    };
    fetch(); // the manager's first-use setup is not the reply's cost
    const long long base = live.load();
    peak = base;
    counting = true;
    for (int i = 0; i < 100; ++i) fetch();
    counting = false;
    std::printf("100 fetches of a 2 KB feed reply (budget %lld bytes)\n", (long long)request.maxBytes);
    lomex::bench::Limits limits;
    limits.atLeast("replies read whole", ok - 1, 100);
    // A reply takes what it needs, never its 4 MiB budget up front: Qt's own read buffers are
    // 16-32 KiB.
    limits.atMost("largest single allocation", double(largest.load()) / 1024.0, 256, "KiB");
    // About 40 KiB: one reply at a time; the 100 bodies (200 KiB) or replies kept would show.
    limits.atMost("peak live heap above start", double(peak.load() - base) / 1024.0, 160, "KiB");
    return limits.exitCode();
}
