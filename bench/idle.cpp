// Idle cost of the running app: starts the full app in this process (fresh temporary home,
// so no stored settings count), lets it sit with the notch closed, and prints the CPU time
// it used and its resident memory. Exits non-zero past its limits: under 1% of one core and
// under 80 MB.
//
//   bench_idle [seconds]      (default 20; QT_QPA_PLATFORM picks the display, offscreen if none)
#include "BenchSupport.h"
#include "app/AppDelegate.h"
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <sys/resource.h>

namespace {

double cpuSeconds() {
    rusage u {};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + u.ru_stime.tv_sec + u.ru_stime.tv_usec / 1e6;
}

double residentMB() {
    QFile f("/proc/self/status");
    if (!f.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return -1;
}

} // namespace

int main(int argc, char** argv) {
    double seconds = 20;
    if (argc > 1) seconds = std::max(1.0, QByteArray(argv[1]).toDouble());
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QTemporaryDir home;
    lomex::bench::useHome(home.path());
    qputenv("XDG_CACHE_HOME", home.path().toUtf8() + "/.cache");
    QDir().mkpath(home.path() + "/run");
    QFile::setPermissions(home.path() + "/run", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", home.path().toUtf8() + "/run");

    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setFont(QFont("DejaVu Sans", 12));
    lomex::AppDelegate delegate;
    delegate.applicationDidFinishLaunching();

    // Let start-up settle (the delayed setup hook included) before measuring.
    double startCpu = 0;
    double rss = 0;
    QTimer::singleShot(2000, [&] {
        rss = residentMB();
        startCpu = cpuSeconds();
        QTimer::singleShot(int(seconds * 1000), [&] { app.quit(); });
    });
    app.exec();
    const double used = cpuSeconds() - startCpu;
    const double share = 100.0 * used / seconds;
    std::printf("idle for %.0f s after start (platform %s): %.3f s of CPU\n", seconds,
                qPrintable(QGuiApplication::platformName()), used);
    lomex::bench::Limits limits;
    // A closed panel waits for its timers and sockets; a poll or an animation left running
    // would show as whole percents.
    limits.atMost("CPU while idle, share of one core", share, 1, "%");
    limits.atMost("resident memory after start", rss, 80, "MB");
    return limits.exitCode();
}
