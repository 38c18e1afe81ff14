// Typing into a note of 1.6 million characters: prints what one key costs on the GUI thread,
// what the one store at the pause costs, and what storing the whole note at every key would
// cost instead. Runs offscreen in a temporary HOME.
#include "BenchSupport.h"
#include "FakeClock.h"
#include "core/Clock.h"
#include "core/Settings.h"
#include "tabs/NoteView.h"
#include <QApplication>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <cstdio>

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
    Settings::shared().setString(QStringLiteral("note"), note);

    FakeClock clock;
    NoteView view(&clock);
    view.resize(600, 300);
    view.show();
    QPlainTextEdit* editor = view.editor();
    editor->moveCursor(QTextCursor::End);
    const auto key = bench::sampleMicros(200, [&] { editor->insertPlainText(QStringLiteral("x")); });
    std::printf("note of %d characters, one key on the GUI thread, 200 runs: median %.1f us, p95 %.1f us, max %.1f us\n",
                chars, bench::percentile(key, 50), bench::percentile(key, 95), key.back());
    const auto store = bench::sampleMicros(1, [&] { clock.advance(0.5); });
    std::printf("the one store once typing pauses: %.2f ms (stored %s)\n", store.back() / 1000,
                Settings::shared().stringValue(QStringLiteral("note")) == editor->toPlainText() ? "yes" : "NO");
    const QString text = editor->toPlainText();
    int n = 0;
    const auto everyKey = bench::sampleMicros(20, [&] { Settings::shared().setString(QStringLiteral("note"), text + QString::number(n++)); });
    std::printf("storing the whole note at a key instead, 20 runs: median %.2f ms, max %.2f ms\n",
                bench::percentile(everyKey, 50) / 1000, everyKey.back() / 1000);
    return 0;
}
