// The clipboard history at its largest: 500 clips at the text cap (half of them control
// characters, which take six bytes each in JSON, half one unbroken token), 50 of them pinned.
// Measures the start with it (the GUI thread's first answer, the read off it), one small copy
// into it (bytes written, CPU, the GUI thread's longest stall) and the memory the history takes
// next to the size of the clips themselves.
#include "BenchSupport.h"
#include "core/Clock.h"
#include "core/Settings.h"
#include "device/ClipHistory.h"
#include "device/ClipboardStore.h"
#include "FakeClipboard.h"
#include "FakePasteKeys.h"
#include "FakeRunningApps.h"
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <sys/resource.h>

using namespace lomex;

namespace {

qint64 residentKiB() {
    QFile f("/proc/self/statm");
    if (!f.open(QIODevice::ReadOnly)) return 0;
    return f.readAll().split(' ').value(1).toLongLong() * 4;
}

double processCpuMs() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

void waitFor(const std::function<bool()>& done, int ms) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// Writes the history as the store keeps it; returns the clips' own size in bytes.
qint64 writeFullHistory(const QString& folder) {
    QDir().mkpath(folder);
    QList<Clip> clips;
    qint64 own = 0;
    for (int i = 0; i < ClipboardStore::maxClips; ++i) {
        QString text(ClipboardStore::maxTextChars, i % 2 ? QChar(0x01) : QChar('x'));
        text.replace(0, 12, QStringLiteral("clip %1 ").arg(i, 6));
        const QByteArray utf8 = text.toUtf8();
        Clip c;
        c.id = cliphistory::newFileName("x").chopped(2);
        c.kind = Clip::Kind::text;
        c.text = cliphistory::head(text);
        c.textFile = cliphistory::newFileName("txt");
        c.digest = cliphistory::digestOf(utf8);
        c.size = utf8.size();
        c.date = QDateTime::currentDateTimeUtc();
        c.pinned = i % 10 == 0;
        if (cliphistory::writeFile(folder + "/" + c.textFile, utf8)) return -1;
        own += utf8.size();
        clips.append(c);
    }
    if (cliphistory::saveList(folder, clips)) return -1;
    return own;
}

struct Check {
    const char* what;
    double value, limit;
    const char* unit;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir home;
    bench::useHome(home.path());
    const QString folder = home.path() + "/Clipboard";
    const qint64 own = writeFullHistory(folder);
    if (own < 0) {
        std::fprintf(stderr, "could not write the history\n");
        return 2;
    }
    FakeClipboard board;
    FakeRunningApps apps;
    FakePasteKeys keys;
    const qint64 rssBefore = residentKiB();

    // Start: the GUI thread's first answer and its longest stall while the history is read.
    bench::StallMeter meter;
    ClipboardStore store(Clock::system(), &Settings::shared(), &board, &apps, &keys, folder);
    QElapsedTimer sinceStart;
    double firstAnswerMs = -1;
    QTimer::singleShot(0, [&] { firstAnswerMs = double(sinceStart.nsecsElapsed()) / 1e6; });
    sinceStart.start();
    meter.start();
    store.start();
    waitFor([&] { return store.loaded(); }, 20000);
    const double loadedMs = double(sinceStart.nsecsElapsed()) / 1e6;
    const double startStallMs = meter.longestMs();
    meter.stop();
    store.waitForSaves();
    const qint64 rssGrowthKiB = residentKiB() - rssBefore;

    // One small copy into the full history: the GUI thread's longest stall until the list is
    // written, then (without the meter, whose 0 ms timer spins) the CPU and bytes of another.
    auto copyText = [&](const QString& text) {
        ClipboardContent c;
        c.text = text;
        board.copy(c);
    };
    const qint64 writtenBefore = cliphistory::bytesWritten();
    meter.start();
    copyText(QStringLiteral("abc"));
    waitFor([&] { return cliphistory::bytesWritten() > writtenBefore; }, 5000);
    const double copyStallMs = meter.longestMs();
    meter.stop();
    store.waitForSaves();

    const qint64 writtenBeforeSecond = cliphistory::bytesWritten();
    const double cpuBefore = processCpuMs();
    copyText(QStringLiteral("def"));
    QElapsedTimer wait;
    wait.start();
    while (cliphistory::bytesWritten() == writtenBeforeSecond && wait.elapsed() < 5000) {
        QThread::msleep(2);
        QCoreApplication::processEvents();
    }
    store.waitForSaves();
    const double copyCpuMs = processCpuMs() - cpuBefore;
    const qint64 copyBytes = cliphistory::bytesWritten() - writtenBeforeSecond;

    std::printf("clipboard history: %d clips, %.1f MB of text (%d pinned)\n", int(store.clips().size()),
                double(own) / 1e6, int(ClipboardStore::maxClips / 10));
    std::printf("  history read in %.0f ms (off the GUI thread)\n", loadedMs);
    const Check checks[] = {
        {"start: first GUI answer", firstAnswerMs, 100, "ms"},
        {"start: longest GUI stall", startStallMs, 16, "ms"},
        {"one copy: bytes written", double(copyBytes) / 1024, 1024, "KiB"},
        {"one copy: CPU", copyCpuMs, 50, "ms"},
        {"one copy: longest GUI stall", copyStallMs, 16, "ms"},
        {"memory taken by the history", double(rssGrowthKiB) / 1024, double(own) / (1 << 20) / 4, "MiB"},
    };
    bool ok = store.clips().size() == ClipboardStore::maxClips && store.clips()[0].text == "def" && loadedMs < 20000;
    for (const Check& c : checks) {
        const bool pass = c.value >= 0 && c.value <= c.limit;
        ok = ok && pass;
        std::printf("  %-30s %9.1f %s (limit %.0f) %s\n", c.what, c.value, c.unit, c.limit, pass ? "ok" : "MISSED");
    }
    return ok ? 0 : 1;
}
