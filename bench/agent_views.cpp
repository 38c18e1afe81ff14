// Times building the agents list's row and the approval card for sessions whose outside texts
// are ordinary and huge (any local process can post a megabyte message). Offscreen platform.
#include "BenchSupport.h"
#include "agents/views/AgentViews.h"
#include "agents/ApprovalCenter.h"
#include "agents/SessionStore.h"
#include "core/Clock.h"
#include <QApplication>
#include <QTemporaryDir>
#include <cstdio>

using namespace lomex;

int main(int argc, char** argv) {
    QTemporaryDir home(QStringLiteral("/tmp/lomex-bench-home-XXXXXX"));
    if (!home.isValid()) return 1;
    bench::useHome(home.path());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    FakeClock clock;
    SessionStore store(&clock);
    for (int size : {100, 10'000, 1'000'000, 8'000'000}) {
        HookEvent note;
        note.name = QStringLiteral("Notification");
        note.sessionID = QStringLiteral("s");
        note.cwd = QStringLiteral("/work/") + QString(size, QLatin1Char('p'));
        note.message = QString(size, QLatin1Char('x'));
        store.handle(note);
        const Session s = *store.session(QStringLiteral("s"));
        const double row = bench::percentile(bench::sampleMicros(5, [&] { AgentRow r(s, &store); }), 50) / 1000.0;
        std::printf("agent row, texts of %8d characters: %8.3f ms\n", size, row);
    }
    std::printf("aim: under 30 ms even at 8 MB (what is left is copying the texts), never the seconds a full layout costs\n");
    return 0;
}
