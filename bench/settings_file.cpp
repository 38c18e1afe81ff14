// Loads a settings.json nested 20,000 deep and flips one switch: prints the time of the load
// and of the save, the size of the file written and the process's peak memory. Also the same
// for an ordinary settings file, and the time of one switch flip with the file watched.
// Runs in a temporary HOME.
#include "BenchSupport.h"
#include "core/Paths.h"
#include "core/Settings.h"
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>
#include <sys/resource.h>

using namespace lomex;

namespace {
long peakKiB() {
    rusage u {};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

void write(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) f.write(bytes);
}

void run(const char* name, const QByteArray& content) {
    const QString file = paths::settingsFile();
    QFile::remove(file);
    QFile::remove(file + ".corrupt");
    write(file, content);
    QElapsedTimer t;
    t.start();
    Settings s(file);
    const double loadMs = double(t.nsecsElapsed()) / 1e6;
    t.start();
    s.set(keys::agentsEnabled, true);
    s.flush();
    const double saveMs = double(t.nsecsElapsed()) / 1e6;
    std::printf("%-28s input %8lld B: load %8.2f ms, first save %8.2f ms, file after %10lld B, peak RSS %ld KiB\n", name,
                qlonglong(content.size()), loadMs, saveMs, qlonglong(QFileInfo(file).size()), peakKiB());
}
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir home;
    bench::useHome(home.path());
    const int depth = argc > 1 ? QByteArray(argv[1]).toInt() : 20000;
    run("ordinary settings file", R"({"language":"cs","hoverDelay":0.2,"tabOrder":["home","agents","note"],"note":"shopping"})");
    run("nested 20,000 deep", "{\"x\":" + QByteArray(depth, '[') + QByteArray(depth, ']') + "}");

    Settings s(paths::settingsFile());
    bool on = false;
    const auto us = bench::sampleMicros(200, [&] { s.set(keys::agentApprovals, on = !on); });
    s.flush();
    std::printf("switch flip on the GUI thread (the file is written on the settings' own thread), 200 runs: median %.1f us, p95 %.1f us, max %.1f us\n",
                bench::percentile(us, 50), bench::percentile(us, 95), us.back());
    return 0;
}
