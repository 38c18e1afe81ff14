// What a typed reply's clipboard snapshot and its restore cost when another program (xclip, on
// a private Xvfb) offers a 22.7 MB PNG: the GUI thread's longest stall while the snapshot is
// read and while another program pastes the restored image in pieces, the time until the
// snapshot is held, and how far the peak resident size rises (the data goes to a spill file,
// so the rise stays well under the image's own size). The measuring runs in a process of its
// own, so the peak is its own.
#include "BenchSupport.h"
#include "platform/DesktopAutomation.h"
#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cstdio>
#include <optional>

using namespace lomex;

namespace {

constexpr qint64 imageBytes = 22'700'000;
constexpr double maxGuiStallMs = 16;
constexpr double maxSnapshotMs = X11DesktopAutomation::snapshotBudgetMs;
// Well under the image itself: it is never held whole in memory.
constexpr double maxPeakRiseMB = 16;

// This process image's own peak (getrusage's would carry the parent's over the exec).
qint64 peakKiB()
{
    QFile f("/proc/self/status");
    if (!f.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmHWM:")) return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

void turn(const std::function<bool()>& until, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!until() && t.elapsed() < timeoutMs) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// Snapshot, restore, paste by another program; prints the figures on one line.
int runCase(const QString& file)
{
    QTemporaryDir home;
    bench::useHome(home.path());
    qputenv("XDG_RUNTIME_DIR", home.path().toUtf8());
    X11DesktopAutomation automation;
    const qint64 baseline = peakKiB();

    bench::StallMeter snapshotStall, pasteStall;
    QObject context;
    std::optional<ClipboardSnapshot> snap;
    QElapsedTimer held;
    held.start();
    snapshotStall.start();
    automation.snapshotClipboard(&context, [&](const ClipboardSnapshot& s) { snap = s; });
    turn([&] { return snap.has_value(); }, 20000);
    const double snapshotMs = double(held.nsecsElapsed()) / 1e6;
    snapshotStall.stop();
    if (!snap) return 1;
    const bool complete = snap->complete && snap->items.size() == 1 && snap->items.first().data.inFile();

    automation.restoreClipboard(*snap);
    snap.reset(); // the offer holds the data now
    pasteStall.start();
    QProcess paste;
    const QString pasted = home.path() + "/pasted.png";
    paste.setStandardOutputFile(pasted);
    paste.start("xclip", {"-o", "-selection", "clipboard", "-t", "image/png"});
    turn([&] { return paste.state() == QProcess::NotRunning; }, 20000);
    pasteStall.stop();
    automation.restoreClipboard({});
    const double peakRiseMB = double(peakKiB() - baseline) / 1024.0;
    QFile a(file), b(pasted);
    const bool identical = a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly) && a.readAll() == b.readAll();
    std::printf("%.1f %.1f %.1f %.1f %d %d\n", snapshotStall.longestCpuMs(), pasteStall.longestCpuMs(), snapshotMs,
                peakRiseMB, complete, identical);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && QByteArray(argv[1]) == "--case") return runCase(argv[2]);
    QProcess xvfb;
    const QString display = bench::startXvfbWithXclip(xvfb);
    if (display.isEmpty()) return 1;
    QTemporaryDir dir;
    const QString image = dir.path() + "/image.png";
    {
        // Noise behind a PNG signature: nothing compresses it on the way.
        QByteArray bytes(imageBytes, Qt::Uninitialized);
        QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(bytes.data()), bytes.size() / 4);
        bytes.replace(0, 8, QByteArray("\x89PNG\r\n\x1a\n", 8));
        QFile f(image);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) return 1;
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", display);
    QProcess offer;
    offer.setProcessEnvironment(env);
    offer.start("xclip", {"-selection", "clipboard", "-t", "image/png", "-i", image});
    offer.waitForFinished(10000);

    QProcess child;
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {"--case", image});
    child.waitForFinished(60000);
    const QList<QByteArray> f = child.readAllStandardOutput().trimmed().split(' ');
    xvfb.terminate();
    xvfb.waitForFinished(3000);
    if (f.size() != 6) {
        std::printf("MISSED: the case did not run\n");
        return 1;
    }
    std::printf("a typed reply's clipboard snapshot and restore of a %.1f MB PNG offered by xclip\n", imageBytes / 1e6);
    std::printf("  longest GUI-thread stall (CPU) while the snapshot is read:    %7.1f ms (limit %.0f)\n",
                f[0].toDouble(), maxGuiStallMs);
    std::printf("  longest GUI-thread stall (CPU) while another program pastes:  %7.1f ms (limit %.0f)\n",
                f[1].toDouble(), maxGuiStallMs);
    std::printf("  snapshot held after                                           %7.1f ms (limit %.0f)\n",
                f[2].toDouble(), maxSnapshotMs);
    std::printf("  peak memory rise                                              %7.1f MB (limit %.0f)\n",
                f[3].toDouble(), maxPeakRiseMB);
    std::printf("  held whole in the spill file: %s; pasted back identical: %s\n", f[4] == "1" ? "yes" : "NO",
                f[5] == "1" ? "yes" : "NO");
    const bool ok = f[0].toDouble() <= maxGuiStallMs && f[1].toDouble() <= maxGuiStallMs
                    && f[2].toDouble() <= maxSnapshotMs && f[3].toDouble() <= maxPeakRiseMB && f[4] == "1" && f[5] == "1";
    if (!ok) std::printf("MISSED a limit\n");
    return ok ? 0 : 1;
}
