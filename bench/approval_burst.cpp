// 32 permission requests held at once, each command one 20,000-character token without a blank
// (parallel sub-agents asking to run a blob or a minified one-liner), through the path the app
// uses: real sockets to the hook server, the delegate's arrival queue, the agents tab open on
// the notch panel. Meanwhile the debug socket is pinged every 5 ms, as scripts/bench-approval-curl.sh
// does against the real app. Prints the longest pass of the GUI thread's event loop (wall and
// CPU) and the longest ping round trip; exits non-zero when the longest pass's CPU time misses
// its limit (CPU time, so that a busy machine does not fail it; the pings are wall time and
// only printed). Offscreen platform.
#include "BenchSupport.h"
#include "../tests/agents/LoopbackClient.h"
#include "FakeRunningApps.h"
#include "agents/ApprovalCenter.h"
#include "agents/views/AgentViews.h"
#include "app/AppDelegate.h"
#include "app/NotchPanel.h"
#include "core/Settings.h"
#include "notch/NotchPageHost.h"
#include "notch/NotchRootView.h"
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace lomex;

namespace {

// The longest pass comes first (the first arrivals, the first card and the first paint all
// at once) at 8-14 ms here; the rest take 6-9 ms. Well under the 50 ms a ping may take.
constexpr double kPassLimitMs = 20;
constexpr int kRequests = 32;
constexpr int kCommandLength = 20'000;

// Round trip of one debug command in ms, or -1 when nothing answers.
double ping(const QByteArray& path)
{
    const auto start = std::chrono::steady_clock::now();
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.constData(), sizeof addr.sun_path - 1);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    (void)!::write(fd, "ping\n", 5);
    char buf[512];
    ssize_t n = 0;
    while ((n = ::read(fd, buf, sizeof buf)) > 0)
        if (std::memchr(buf, '\n', size_t(n))) break;
    ::close(fd);
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir home(QStringLiteral("/tmp/lomex-bench-home-XXXXXX"));
    if (!home.isValid()) return 1;
    bench::useHome(home.path());
    QDir().mkpath(home.path() + QStringLiteral("/run"));
    QFile::setPermissions(home.path() + QStringLiteral("/run"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", home.path().toUtf8() + "/run");
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const quint16 port = test::freeLoopbackPort();
    qputenv("LOMEX_HOOK_PORT", QByteArray::number(port));
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(13);
    QApplication::setFont(font);
    // Nobody in front: every request is news.
    FakeRunningApps apps;
    RunningApps::setCurrent(&apps);
    Settings::shared().set(keys::onboardingDone, true);
    Settings::shared().set(keys::agentsEnabled, true);

    const QByteArray socket = home.path().toUtf8() + "/run/bench-debug.sock";
    AppDelegate delegate;
    delegate.setDebugSocketPath(QString::fromUtf8(socket));
    delegate.applicationDidFinishLaunching();
    delegate.showNotch(NotchModel::Tab::agents);
    auto* tab = qobject_cast<AgentsView*>(delegate.panel()->root()->pages()->page(NotchModel::Tab::agents));
    if (!tab || !delegate.agentServer()) {
        std::printf("the agents tab or the hook server is missing\n");
        return 1;
    }
    {
        QEventLoop settle;
        QTimer::singleShot(1000, &settle, &QEventLoop::quit);
        settle.exec();
    }

    QString token;
    for (int i = 0; i < kCommandLength; ++i) token += QChar(u'A' + (i * 7 + i / 13) % 26);
    std::vector<QByteArray> requests;
    for (int i = 0; i < kRequests; ++i) {
        const QByteArray body = QStringLiteral(R"({"session_id":"sub-%1","cwd":"/work/project","hook_event_name":"PermissionRequest",)"
                                               R"("tool_name":"Bash","tool_input":{"command":"%2","description":"Run the step"},)"
                                               R"("permission_suggestions":[{"type":"addRules","rules":[{"toolName":"Bash"}],"behavior":"allow","destination":"session"}]})")
                                    .arg(i)
                                    .arg(token)
                                    .toUtf8();
        requests.push_back("POST /permission?src=lomex-agent HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
                           "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    }

    std::atomic<bool> pinging = true;
    std::atomic<bool> pingerDone = false;
    std::vector<double> pings;
    std::thread pinger([&] {
        const auto done = qScopeGuard([&] { pingerDone = true; });
        while (pinging) {
            pings.push_back(ping(socket));
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    {
        QEventLoop warm;
        QTimer::singleShot(200, &warm, &QEventLoop::quit);
        warm.exec();
    }

    bench::StallMeter meter;
    meter.start();
    // Each request held open, as the hook's curl keeps it until the answer.
    std::vector<int> held;
    std::thread poster([&] {
        for (const QByteArray& request : requests) {
            const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in addr{};
            addr.sin_family = AF_INET;
            addr.sin_port = htons(port);
            addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0)
                (void)!::write(fd, request.constData(), size_t(request.size()));
            held.push_back(fd);
        }
    });
    QElapsedTimer waited;
    waited.start();
    while (tab->cards().size() < kRequests && waited.elapsed() < 20'000) {
        QEventLoop loop;
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec();
    }
    const qint64 allShownMs = waited.elapsed();
    {
        QEventLoop after;
        QTimer::singleShot(300, &after, &QEventLoop::quit);
        after.exec();
    }
    meter.stop();
    pinging = false;
    // A ping under way is answered by this thread's event loop.
    while (!pingerDone) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    pinger.join();
    poster.join();
    const int cards = int(tab->cards().size());
    Settings::shared().set(keys::agentsEnabled, false);
    for (int fd : held) ::close(fd);
    RunningApps::setCurrent(nullptr);

    std::sort(pings.begin(), pings.end());
    const auto over = std::count_if(pings.begin(), pings.end(), [](double ms) { return ms > 50; });
    const bool unanswered = !pings.empty() && pings.front() < 0;
    std::printf("%d held requests, commands of %d characters without a blank, the agents tab open:\n", kRequests, kCommandLength);
    std::printf("  all cards shown within %lld ms\n", allShownMs);
    std::printf("  debug-socket pings: %zu, median %.1f ms, longest %.1f ms, over 50 ms: %td (wall time, not checked)\n",
                pings.size(), bench::percentile(pings, 50), pings.empty() ? 0.0 : pings.back(), over);
    std::printf("  longest pass of the GUI thread: wall %.2f ms\n", meter.longestMs());
    bench::Limits limits;
    limits.exactly("cards shown", cards, kRequests);
    limits.holds("every ping answered", !unanswered);
    limits.atMost("longest pass of the GUI thread, CPU", meter.longestCpuMs(), kPassLimitMs, "ms");
    return limits.exitCode();
}
