// The shelf at the sizes a drag of a big folder reaches: 1,000 and 20,000 real files stored
// under "shelfItems". For each size: start (the settings read and the store and tab made, as at
// launch), opening the tab (items made for the row in view, with the desktop's icons), adding
// one file, and a drop of all of them onto an empty shelf; then the process's peak memory.
// Checks each figure against its limit and exits non-zero when one is missed. Offscreen, in a
// temporary HOME.
#include "BenchSupport.h"
#include "core/Settings.h"
#include "device/ShelfStore.h"
#include "platform/Workspace.h"
#include "tabs/ShelfView.h"
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMimeData>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <cstdio>
#include <sys/resource.h>

using namespace lomex;

namespace {

double peakMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;
}

double millis(const std::function<void()>& fn) { return bench::sampleMicros(1, fn).back() / 1000.0; }

bool failed = false;

void check(const char* what, double value, double limit, const char* unit) {
    const bool ok = value <= limit;
    failed = failed || !ok;
    std::printf("  %-46s %9.1f %s   (limit %.0f %s)%s\n", what, value, unit, limit, unit, ok ? "" : "   MISSED");
}

struct Limits {
    double startMs, openMs, addMs, dropMs;
};

void run(const QString& root, int count, const Limits& limits) {
    // Names of every shape a folder has: extensions the icon theme knows, none, long ones.
    const QStringList kinds{".png", ".pdf", ".txt", "", ".tar.gz", ".mp3", ".odt", ".cpp"};
    const QString dir = root + QStringLiteral("/files-%1").arg(count);
    QDir().mkpath(dir);
    QStringList paths;
    QList<QUrl> urls;
    for (int i = 0; i < count; ++i) {
        const QString path = dir + QStringLiteral("/report %1 of the quarter%2").arg(i).arg(kinds[i % kinds.size()]);
        QFile f(path);
        if (f.open(QIODevice::WriteOnly)) f.write("x");
        paths << path;
        urls << QUrl::fromLocalFile(path);
    }
    // All but the last are stored; adding the last brings the shelf to its size.
    const QString extra = paths.takeLast();
    Settings::shared().set(keys::shelfItems, paths);
    Settings::resetShared();

    std::printf("shelf of %d files\n", count);
    std::unique_ptr<ShelfStore> shelf;
    std::unique_ptr<ShelfView> view;
    const double start = millis([&] {
        Settings::shared();
        shelf = std::make_unique<ShelfStore>();
        view = std::make_unique<ShelfView>(shelf.get());
        view->resize(700, 150);
    });
    check("start: settings read, store and tab made", start, limits.startMs, "ms");
    if (shelf->items().size() != count - 1) std::printf("  (the store holds %lld files)\n", qlonglong(shelf->items().size()));
    const double open = millis([&] {
        view->show();
        QApplication::processEvents();
    });
    check("open the tab (first pass, icons of the items in view)", open, limits.openMs, "ms");
    std::printf("  items made: %lld\n", qlonglong(view->itemViews().size()));
    const double add = millis([&] {
        shelf->add({QUrl::fromLocalFile(extra)});
        QApplication::processEvents();
    });
    check("add one (stored in the settings file, row updated)", add, limits.addMs, "ms");
    const auto stored = Settings::shared().find(keys::shelfItems).value_or(QStringList{});
    if (shelf->items().size() != count || stored.size() != count || shelf->saveError()) {
        std::printf("  the file added was not on the shelf and stored\n");
        failed = true;
    }
    const QStringList now = Settings::shared().find(keys::shelfItems).value_or(QStringList{});
    std::printf("  of which the settings file write alone: %.1f ms\n",
                millis([&] { Settings::shared().set(keys::shelfItems, now); }));
    QScrollBar* bar = view->findChild<QScrollArea*>(QStringLiteral("shelfScroll"))->horizontalScrollBar();
    const auto steps = bench::sampleMicros(100, [&] {
        bar->setValue(bar->value() + 700);
        QApplication::processEvents();
    });
    check("scroll one view further (95th of 100)", bench::percentile(steps, 95) / 1000.0, 16, "ms");
    std::printf("  (longest of the 100 steps: %.1f ms)\n", steps.back() / 1000.0);
    const double jump = millis([&] {
        bar->setValue(bar->maximum());
        QApplication::processEvents();
    });
    check("jump to the end of the row", jump, 16, "ms");
    shelf->setItems({});
    QApplication::processEvents();
    QMimeData drop;
    drop.setUrls(urls);
    const double dropped = millis([&] {
        shelf->handleDrop(&drop);
        QApplication::processEvents();
    });
    check("a drop of all of them onto the empty shelf", dropped, limits.dropMs, "ms");
    view.reset();
    shelf.reset();
    Settings::resetShared();
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir home;
    bench::useHome(home.path());
    {
        // Fonts, styles and the icon theme are set up once per program, not per shelf.
        ShelfStore empty;
        ShelfView warm(&empty);
        warm.show();
        QApplication::processEvents();
        Workspace::current()->icon(home.path());
    }
    Settings::resetShared();
    const double baseline = peakMiB();
    // Adding one stores the whole list, but the settings file is read, merged and written on the
    // settings writer's thread: the GUI thread's part stays within a frame or two at any size.
    run(home.path(), 1000, {40, 50, 30, 100});
    run(home.path(), ShelfStore::maxItems, {150, 50, 30, 400});
    check("peak memory over the start of the program", peakMiB() - baseline, 150, "MB");
    return failed ? 1 : 0;
}
