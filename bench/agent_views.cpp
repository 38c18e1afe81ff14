// Times building the agents list's row for sessions whose outside texts are ordinary and huge
// (any local process can post a megabyte message), and the GUI thread's cost of one hook event
// while the agents list is on screen with 1, 30 and 100 sessions. Offscreen platform.
#include "BenchSupport.h"
#include "agents/views/AgentViews.h"
#include "agents/ApprovalCenter.h"
#include "agents/SessionStore.h"
#include "core/Clock.h"
#include "FakeClock.h"
#include <QApplication>
#include <QTemporaryDir>
#include <memory>
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

    // One tool event of one session, with the list shown: the store's update, the list's
    // update, layout and paint, as the event loop runs them.
    for (int count : {1, 30, 100}) {
        SessionStore sessions(&clock);
        ApprovalCenter center(&clock);
        for (int i = 0; i < count; ++i) {
            HookEvent start;
            start.name = QStringLiteral("UserPromptSubmit");
            start.sessionID = QStringLiteral("s%1").arg(i);
            start.cwd = QStringLiteral("/work/project-%1").arg(i);
            sessions.handle(start);
        }
        auto view = std::make_unique<AgentsView>(&sessions, &center, &clock);
        view->resize(700, 400);
        view->show();
        QApplication::processEvents();
        int n = 0;
        const auto samples = bench::sampleMicros(200, [&] {
            HookEvent tool;
            tool.name = QStringLiteral("PreToolUse");
            tool.sessionID = QStringLiteral("s%1").arg(n % count);
            tool.toolName = (n++ % 2) ? QStringLiteral("Bash") : QStringLiteral("Read");
            tool.toolInput = {{"command", "npm test"}, {"file_path", "/work/a.cpp"}};
            sessions.handle(tool);
            QApplication::processEvents();
        });
        std::printf("one event, %3d sessions listed: median %7.3f ms, p90 %7.3f ms\n", count,
                    bench::percentile(samples, 50) / 1000.0, bench::percentile(samples, 90) / 1000.0);
    }
    std::printf("aim: the same for 1, 30 and 100 sessions (only the row that changed is touched)\n");
    return 0;
}
