// What one clipboard change costs the GUI thread and the heap when another program copies
// 40 MB of text or a 75 MB PNG (offered with xclip on a private Xvfb). The clipboard history
// reads off the GUI thread and fetches only what it would keep; for comparison, the same
// change read through QClipboard on the GUI thread. After the history's read, another
// program pastes the copy: the owner must still hand all of it over.
//
// Each figure comes from a process of its own (peak memory is per process): the program
// starts Xvfb, makes the two files, and runs itself once per case.
#include "BenchSupport.h"
#include "core/Clock.h"
#include "core/Settings.h"
#include "device/ClipboardStore.h"
#include "platform/Clipboard.h"
#include "platform/QtClipboard.h"
#include "platform/PasteKeys.h"
#include "platform/RunningApps.h"
#include "FakePasteKeys.h"
#include "FakeRunningApps.h"
#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMimeData>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <sys/resource.h>

using namespace lomex;

namespace {

qint64 residentKiB()
{
    QFile f("/proc/self/statm");
    if (!f.open(QIODevice::ReadOnly)) return 0;
    const QList<QByteArray> fields = f.readAll().split(' ');
    return fields.value(1).toLongLong() * 4;
}

qint64 peakKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// The desktop clipboard, with the reads it did and how long they took on the reader thread.
class TimedClipboard : public Clipboard {
public:
    quint64 changeCount() const override { return inner.changeCount(); }
    ClipboardContent read(const ClipboardLimits& limits) const override
    {
        QElapsedTimer t;
        t.start();
        ClipboardContent c = inner.read(limits);
        readMs = double(t.nsecsElapsed()) / 1e6;
        ++reads;
        return c;
    }
    bool readsOffThread() const override { return inner.readsOffThread(); }
    void write(const ClipboardContent& content) override { inner.write(content); }

    QtClipboard inner;
    mutable std::atomic<int> reads{0};
    mutable std::atomic<double> readMs{0};
};

// One case in this process: offer the file, let the reader see the change, report the longest
// GUI-thread stall and how far the peak resident size rose.
int runCase(const QString& way, const QString& target, const QString& file)
{
    QTemporaryDir dir;
    bench::useHome(dir.path());
    bench::StallMeter meter;
    auto offer = [&] {
        QProcess xclip;
        xclip.start("xclip", {"-selection", "clipboard", "-t", target, "-i", file});
        xclip.waitForFinished(10000);
    };
    auto settle = [](int ms) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    };
    FakeRunningApps apps;
    FakePasteKeys keys;
    TimedClipboard clipboard;
    const qint64 baseline = std::max(residentKiB(), peakKiB());
    bool done = false;
    qint64 pastedBytes = -1, pasteMs = -1;
    std::unique_ptr<ClipboardStore> store;
    if (way == "history") {
        store = std::make_unique<ClipboardStore>(Clock::system(), &Settings::shared(), &clipboard, &apps, &keys,
                                                 dir.path() + "/Clipboard");
        store->start();
    }
    offer();
    meter.start();
    QElapsedTimer total;
    total.start();
    if (way == "history") {
        // Until a poll has seen the change and its read is done.
        while (total.elapsed() < 20000 && !done) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            done = clipboard.reads > 0 && !store->reading();
        }
        settle(100);
        meter.stop();
        // Encoding a kept image's file is the writer thread's; then its clip appears.
        store->waitForSaves();
        settle(50);
        std::fprintf(stderr, "  (%d read, %.1f ms on the reader thread, %lld clips recorded)\n", clipboard.reads.load(),
                     clipboard.readMs.load(), qint64(store->clips().size()));
        QProcess paste;
        QElapsedTimer pasting;
        pasting.start();
        paste.start("xclip", {"-o", "-selection", "clipboard", "-t", target});
        qint64 bytes = 0;
        while (paste.state() != QProcess::NotRunning && pasting.elapsed() < 10000) {
            paste.waitForReadyRead(50);
            bytes += paste.readAllStandardOutput().size();
        }
        bytes += paste.readAllStandardOutput().size();
        paste.kill();
        paste.waitForFinished(1000);
        pastedBytes = bytes;
        pasteMs = pasting.elapsed();
    } else {
        settle(50);
        const QMimeData* data = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
        ClipboardContent c = data ? clipboard::contentFrom(*data) : ClipboardContent{};
        std::fprintf(stderr, "  (read %lld characters, image %dx%d)\n", qint64(c.text.size()), c.image.width(),
                     c.image.height());
    }
    if (meter.isRunning()) {
        settle(100);
        meter.stop();
    }
    std::printf("%.1f %.1f %lld %lld\n", meter.longestMs(), double(peakKiB() - baseline) / 1024.0, pastedBytes, pasteMs);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && QByteArray(argv[1]) == "--case") {
        qputenv("QT_QPA_PLATFORM", "xcb");
        QApplication app(argc, argv);
        return runCase(argv[2], argv[3], argv[4]);
    }
    QCoreApplication app(argc, argv);
    QProcess xvfb;
    const QString display = bench::startXvfbWithXclip(xvfb);
    if (display.isEmpty()) return 1;
    QTemporaryDir dir;
    const QString text = dir.path() + "/text.txt", image = dir.path() + "/image.png";
    {
        QFile f(text);
        if (!f.open(QIODevice::WriteOnly)) return 1;
        const QByteArray line = "A line of copied log output, 1234567890 abcdefghij ABCDEFGHIJ.\n";
        for (qint64 n = 0; n < (qint64(40) << 20); n += line.size()) f.write(line);
    }
    {
        // Noise does not compress: about 75 MB of PNG.
        QImage noise(4400, 4300, QImage::Format_ARGB32);
        auto* random = QRandomGenerator::global();
        for (int y = 0; y < noise.height(); ++y)
            random->fillRange(reinterpret_cast<quint32*>(noise.scanLine(y)), noise.width());
        noise.save(image, "PNG", 0);
    }
    const QString screenshot = dir.path() + "/screenshot.png";
    {
        QImage shot(1920, 1080, QImage::Format_RGB32);
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x) shot.setPixel(x, y, qRgb(x % 256, y % 256, (x * y) % 256));
        shot.save(screenshot, "PNG");
    }
    // Vector drawings: 2,000 full-canvas translucent rectangles on 6000x6000 (minutes to draw),
    // and a 600 KB compressed one that inflates to 600 MB. Never drawn, so not compared with
    // QClipboard, which would draw them.
    const QString drawing = dir.path() + "/heavy.svg", bomb = dir.path() + "/bomb.svgz";
    {
        QFile f(drawing);
        if (!f.open(QIODevice::WriteOnly)) return 1;
        f.write("<svg xmlns='http://www.w3.org/2000/svg' width='6000' height='6000'>\n");
        for (int i = 0; i < 2000; ++i)
            f.write(QByteArray("<rect width='6000' height='6000' fill='#") + QByteArray::number(0x100000 + i * 7919 % 0xeffff, 16)
                    + "' fill-opacity='0.02'/>\n");
        f.write("</svg>\n");
        QProcess gz;
        gz.setStandardOutputFile(bomb);
        gz.start("gzip", {"-c", "-9", "-n"});
        gz.waitForStarted();
        gz.write("<svg xmlns='http://www.w3.org/2000/svg' width='6000' height='6000'><desc>");
        const QByteArray filler(8 << 20, 'A');
        for (int i = 0; i < 75; ++i) {
            gz.write(filler);
            gz.waitForBytesWritten(-1);
        }
        gz.write("</desc></svg>\n");
        gz.closeWriteChannel();
        gz.waitForFinished(60000);
    }
    constexpr double maxDrawingPeakMB = 100;
    std::printf("one clipboard change read by the history: GUI thread and peak memory (aim: no stall over 16 ms;\n"
                "drawings: peak memory under +%.0f MB, limit)\n", maxDrawingPeakMB);
    const struct {
        const char* what;
        QString target, file;
        bool drawing;
    } contents[] = {{"40 MB text", "UTF8_STRING", text, false}, {"75 MB PNG", "image/png", image, false},
                    {"a 1920x1080 screenshot PNG (kept)", "image/png", screenshot, false},
                    {"an SVG of 2,000 full-canvas rectangles", "image/svg+xml", drawing, true},
                    {"a compressed SVG that inflates to 600 MB", "image/svg+xml-compressed", bomb, true}};
    int missed = 0;
    for (const auto& c : contents) {
        std::printf("  %s (%.1f MB)\n", c.what, double(QFileInfo(c.file).size()) / 1e6);
        for (const char* way : {"history", "qclipboard"}) {
            if (c.drawing && QByteArray(way) == "qclipboard") continue;
            QProcess child;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("DISPLAY", display);
            child.setProcessEnvironment(env);
            child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            child.start(QCoreApplication::applicationFilePath(), {"--case", way, c.target, c.file});
            child.waitForFinished(120000);
            const QList<QByteArray> figures = child.readAllStandardOutput().trimmed().split(' ');
            std::printf("    %-44s longest GUI stall %8.1f ms   peak memory +%7.1f MB\n",
                        QByteArray(way) == "history" ? "history (reader thread, size first):"
                                                      : "for comparison, QClipboard on the GUI thread:",
                        figures.value(0).toDouble(), figures.value(1).toDouble());
            if (c.drawing && (figures.size() < 2 || figures.value(1).toDouble() > maxDrawingPeakMB)) {
                std::printf("      MISSED: peak memory over +%.0f MB\n", maxDrawingPeakMB);
                ++missed;
            }
            if (figures.value(2).toLongLong() >= 0)
                std::printf("      then another program pasted %.1f of %.1f MB in %lld ms (aim: all of it)\n",
                            figures.value(2).toDouble() / 1e6, double(QFileInfo(c.file).size()) / 1e6,
                            figures.value(3).toLongLong());
        }
    }
    xvfb.terminate();
    xvfb.waitForFinished(3000);
    return missed ? 1 : 0;
}
