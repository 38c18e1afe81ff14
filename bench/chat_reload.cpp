// What the chat's 1.5 s reload costs the GUI thread with a 1 GB transcript: a tick over an
// unchanged file, and a tick after the agent appended a message (the read runs on a worker
// thread; the GUI thread starts it and applies the result). The GUI thread's share is the time
// spent in reload() plus in the event processing that applies the read. For comparison, the
// same read done directly on the calling thread. Exits non-zero when a figure misses its limit.
//
// The file is 1 GB long but sparse up to its last few megabytes: the chat reads only the tail,
// and a sparse file keeps the benchmark from writing a gigabyte to disk.
#include "BenchSupport.h"
#include "agents/ChatTranscript.h"
#include "agents/ReplySender.h"
#include "agents/SessionStore.h"
#include "agents/views/ChatView.h"
#include "core/Clock.h"
#include "platform/DesktopAutomation.h"
#include "FakeDesktopAutomation.h"
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QThreadPool>
#include <cstdio>
#include <nlohmann/json.hpp>

using namespace lomex;
using nlohmann::json;

namespace {

QByteArray record(const char* role, int n, const std::string& text)
{
    const json content = std::string(role) == "user" ? json(text)
                                                     : json::array({{{"type", "text"}, {"text", text}}});
    return QByteArray::fromStdString(json{{"type", role}, {"uuid", std::string(role) + std::to_string(n)},
                                          {"message", {{"role", role}, {"content", content}}}}
                                         .dump())
        + '\n';
}

QByteArray turn(int n)
{
    QByteArray b = record("user", n, "Please fix test " + std::to_string(n) + " in parser.cpp");
    std::string words;
    for (int i = 0; i < 60; ++i) words += "checked ";
    b += record("assistant", n, "I read **parser.cpp** and fixed `test " + std::to_string(n) + "`.\n" + words);
    // A large tool result between turns, as real transcripts have.
    b += QByteArray::fromStdString(json{{"type", "user"}, {"uuid", "r" + std::to_string(n)},
                                        {"message", {{"role", "user"},
                                                     {"content", {{{"type", "tool_result"}, {"tool_use_id", "t"},
                                                                   {"content", std::string(8000, 'y')}}}}}}}
                                       .dump())
        + '\n';
    return b;
}

void append(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (f.open(QIODevice::Append)) f.write(bytes);
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    bench::useHome(dir.path());
    const QString path = dir.path() + "/t.jsonl";
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || !f.resize(qint64(1) << 30)) {
            std::fprintf(stderr, "cannot make the 1 GB file in %s\n", qPrintable(dir.path()));
            return 1;
        }
    }
    QByteArray tail;
    for (int n = 0; n < 300; ++n) tail += turn(n);
    append(path, tail);

    FakeDesktopAutomation automation;
    ReplySender sender(Clock::system(), &automation);
    SessionStore store;
    Session s;
    s.id = "s1";
    s.transcriptPath = path;
    ChatView view(s, &store, &sender);
    view.resize(724, 220);
    view.show();
    while (view.readInFlight() || view.messages().isEmpty()) QCoreApplication::processEvents();

    // GUI-thread time of one tick: reload() and the event processing until the read is applied.
    // In the GUI thread's CPU time, which a busy machine does not stretch.
    auto tick = [&] {
        qint64 gui = 0;
        qint64 start = bench::threadCpuNanos();
        view.reload();
        gui += bench::threadCpuNanos() - start;
        // The worker's read is not the GUI thread's time: wait for it without running events.
        QThreadPool::globalInstance()->waitForDone();
        for (int i = 0; i < 3; ++i) {
            start = bench::threadCpuNanos();
            QCoreApplication::processEvents();
            gui += bench::threadCpuNanos() - start;
        }
        return double(gui) / 1000.0;
    };

    // Settle what showing the view left to do before measuring.
    for (int i = 0; i < 20; ++i) {
        QThread::msleep(5);
        QCoreApplication::processEvents();
    }
    const int runs = 60;
    std::vector<double> unchanged, grown, grownPainted, direct;
    for (int i = 0; i < runs; ++i) unchanged.push_back(tick());
    // Without painting: what the reload itself does (start the read, compare, update the
    // bubbles, lay them out, scroll).
    view.setUpdatesEnabled(false);
    for (int i = 0; i < runs; ++i) {
        append(path, turn(1000 + i));
        grown.push_back(tick());
    }
    view.setUpdatesEnabled(true);
    // With the repaint that the changed content needs, the scroll animation's frames included.
    for (int i = 0; i < runs; ++i) {
        append(path, turn(2000 + i));
        grownPainted.push_back(tick());
    }
    direct = bench::sampleMicros(runs, [&] { ChatTranscript::messages(path, ChatView::limit); });
    std::sort(unchanged.begin(), unchanged.end());
    std::sort(grown.begin(), grown.end());
    std::sort(grownPainted.begin(), grownPainted.end());

    std::printf("chat reload of a 1 GB transcript, GUI thread per tick (CPU)\n");
    std::printf("  unchanged file:       p50 %8.1f us\n", bench::percentile(unchanged, 50));
    std::printf("  a message appended:   p50 %8.1f us   (start the read, compare, update and lay out the bubbles)\n",
                bench::percentile(grown, 50));
    std::printf("  the same, painted:    p50 %8.1f us   (plus repainting the changed view)\n", bench::percentile(grownPainted, 50));
    std::printf("  for comparison, the read alone on one thread: p50 %8.1f us (wall)\n", bench::percentile(direct, 50));
    bench::Limits limits;
    // Every 1.5 s: an unchanged file costs a look at its size, nothing is read or laid out.
    limits.atMost("tick over an unchanged file, p99", bench::percentile(unchanged, 99) / 1000, 1, "ms");
    // A new message: the bubbles compared and the new one laid out, about 4 ms; half a frame
    // leaves the paint its share.
    limits.atMost("tick after a message was appended, p99", bench::percentile(grown, 99) / 1000, 8, "ms");
    limits.atMost("the same with the repaint, p99", bench::percentile(grownPainted, 99) / 1000, 16, "ms");
    // Only the file's tail is read (about 1 ms); reading the gigabyte would take seconds.
    limits.atMost("the worker's read of the tail, p99 (wall)", bench::percentile(direct, 99) / 1000, 50, "ms");
    return limits.exitCode();
}
