// Typing into a note of 1.6 million characters: prints what one key costs on the GUI thread,
// what the one store at the pause costs, and what a switch flip costs with that note in the
// settings file. Limits: the GUI thread's CPU time of a store and of a switch flip stays under
// 5 ms (p95); the file itself is written on the settings' own thread. Exits 1 past a limit.
// Runs offscreen in a temporary HOME.
#include "BenchSupport.h"
#include "FakeClock.h"
#include "core/Clock.h"
#include "core/Settings.h"
#include "tabs/NoteView.h"
#include <QApplication>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

using namespace lomex;

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir home;
    bench::useHome(home.path());
    const int chars = argc > 1 ? QByteArray(argv[1]).toInt() : 1600000;
    // Lines of 80 characters, as a long note has them.
    QString note;
    note.reserve(chars);
    while (note.size() < chars) note += QString(79, QLatin1Char('a')) + QLatin1Char('\n');
    note.truncate(chars);
    Settings::shared().set(keys::note, note);

    FakeClock clock;
    NoteView view(&clock);
    view.resize(600, 300);
    view.show();
    QPlainTextEdit* editor = view.editor();
    editor->moveCursor(QTextCursor::End);
    const auto key = bench::sampleMicros(200, [&] { editor->insertPlainText(QStringLiteral("x")); });
    std::printf("note of %d characters, one key on the GUI thread, 200 runs: median %.1f us, p95 %.1f us, max %.1f us\n",
                chars, bench::percentile(key, 50), bench::percentile(key, 95), key.back());
    // GUI-thread CPU time of fn, each run after the writer is done with the one before.
    const auto guiMillis = [](int runs, const auto& fn) {
        std::vector<double> ms;
        for (int i = 0; i < runs; ++i) {
            const qint64 start = bench::threadCpuNanos();
            fn(i);
            ms.push_back(double(bench::threadCpuNanos() - start) / 1e6);
            Settings::shared().flush();
        }
        std::sort(ms.begin(), ms.end());
        return ms;
    };
    constexpr double limitMs = 5;
    bool ok = true;
    const auto report = [&](const char* what, const std::vector<double>& ms) {
        const double p95 = bench::percentile(ms, 95);
        std::printf("%s, %zu runs, GUI thread: median %.2f ms, p95 %.2f ms, max %.2f ms (limit %.0f ms) %s\n", what,
                    ms.size(), bench::percentile(ms, 50), p95, ms.back(), limitMs, p95 < limitMs ? "ok" : "OVER");
        ok = ok && p95 < limitMs;
    };
    const auto store = guiMillis(20, [&](int) {
        editor->insertPlainText(QStringLiteral("y"));
        clock.advance(0.5);
    });
    report("the store once typing pauses (key, then the pause)", store);
    std::printf("stored: %s\n", Settings::shared().get(keys::note) == editor->toPlainText() ? "yes" : "NO");
    const QString text = editor->toPlainText();
    report("a note store of the whole note", guiMillis(20, [&](int n) { Settings::shared().set(keys::note, text + QString::number(n)); }));
    report("a switch flip with the note in the file",
           guiMillis(50, [&](int n) { Settings::shared().set(keys::agentApprovals, n % 2 == 0); }));
    const Settings::FileWork work = Settings::shared().fileWork();
    std::printf("file work on the GUI thread: %d parses (the one at start), %d writes; in all %d parses, %d writes\n",
                work.guiParses, work.guiWrites, work.parses, work.writes);
    ok = ok && work.guiWrites == 0;
    return ok ? 0 : 1;
}
