// Loads a settings.json nested 20,000 deep and flips one switch: prints the time of the load
// and of the save, the size of the file written and the process's peak memory. Also the same
// for an ordinary settings file, and the time of one switch flip with the file watched. Exits
// non-zero when a figure misses its limit. Runs in a temporary HOME.
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

void run(bench::Limits& limits, const char* name, const QByteArray& content) {
    const QString file = paths::settingsFile();
    QFile::remove(file);
    QFile::remove(file + ".corrupt");
    write(file, content);
    const qint64 cpu = bench::threadCpuNanos();
    Settings s(file);
    const double loadMs = double(bench::threadCpuNanos() - cpu) / 1e6;
    QElapsedTimer t;
    t.start();
    s.set(keys::agentsEnabled, true);
    s.flush();
    const double saveMs = double(t.nsecsElapsed()) / 1e6;
    const qint64 after = QFileInfo(file).size();
    std::printf("%s: input %lld B, file after %lld B, peak RSS %ld KiB\n", name, qlonglong(content.size()),
                qlonglong(after), peakKiB());
    // Read on the GUI thread at start: well within a frame, however deep the nesting (a file
    // nested too deep is refused at a bound, not walked to the end).
    limits.atMost("load, GUI thread (CPU)", loadMs, 16, "ms");
    // Written on the settings' own thread; the wall time includes its wait for the disk.
    limits.atMost("first save, until written", saveMs, 200, "ms");
    // A refused file is set aside, not written back with its nesting.
    limits.atMost("the file after", double(after), 1024, "B");
}
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir home;
    bench::useHome(home.path());
    const int depth = argc > 1 ? QByteArray(argv[1]).toInt() : 20000;
    bench::Limits limits;
    run(limits, "ordinary settings file", R"({"language":"cs","hoverDelay":0.2,"tabOrder":["home","agents","note"],"note":"shopping"})");
    run(limits, "nested 20,000 deep", "{\"x\":" + QByteArray(depth, '[') + QByteArray(depth, ']') + "}");
    // About 10 MB; a parse that builds every level (or recurses a frame per level) shows.
    limits.atMost("peak RSS of the process", double(peakKiB()) / 1024.0, 48, "MB");

    Settings s(paths::settingsFile());
    bool on = false;
    const auto us = bench::sampleCpuMicros(200, [&] { s.set(keys::agentApprovals, on = !on); });
    s.flush();
    std::printf("switch flip, 200 runs (the file is written on the settings' own thread)\n");
    // Under a microsecond: the flip hands the file to the writer; a write of its own would
    // take tens of microseconds of system calls.
    limits.atMost("one flip, p95, GUI thread (CPU)", bench::percentile(us, 95), 20, "us");
    limits.exactly("settings files written on the GUI thread", s.fileWork().guiWrites, 0);
    return limits.exitCode();
}
