// Times building the agents list's row and the approval card for sessions whose outside texts
// are ordinary and huge (any local process can post a megabyte message). Offscreen platform.
#include "agents/AgentViews.h"
#include "agents/ApprovalCenter.h"
#include "agents/SessionStore.h"
#include "core/Clock.h"
#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

using namespace lomex;

namespace {

double medianMs(const std::function<void()>& fn, int runs) {
    std::vector<double> ms;
    QElapsedTimer t;
    for (int i = 0; i < runs; ++i) {
        t.start();
        fn();
        ms.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir home(QStringLiteral("/tmp/lomex-bench-home-XXXXXX"));
    if (!home.isValid()) return 1;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_DATA_HOME", (home.path() + "/.local/share").toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/.config").toUtf8());
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
        const double row = medianMs([&] { AgentRow r(s, &store); }, 5);
        std::printf("agent row, texts of %8d characters: %8.3f ms\n", size, row);
    }
    std::printf("aim: under 30 ms even at 8 MB (what is left is copying the texts), never the seconds a full layout costs\n");
    return 0;
}
