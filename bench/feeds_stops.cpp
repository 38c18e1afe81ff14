// Prague stop list speed: the places page filters the whole list on every redraw while a stop
// is typed, and the list (about 7,000 stop groups in the real file) is read once a week.
// Prints the time to read and fold a list of that size and the search times (the GUI thread's
// CPU time), and exits non-zero when a figure misses its limit.
#include "BenchSupport.h"
#include "feeds/TransitParse.h"
#include "feeds/TransitService.h"
#include "platform/TextFold.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <nlohmann/json.hpp>

using namespace lomex;

namespace {

// A stop list shaped like the real one: names from a pool of Czech words, a few platforms
// with ids and lines each.
QByteArray syntheticList(int groups) {
    const char* words[] = {"Náměstí", "Sídliště", "Nádraží", "Husova", "Palackého", "Žižkov", "Řepy", "Újezd",
                           "Kobylisy", "Anděl", "Florenc", "Letňany", "Čakovice", "Hostivař", "Smíchov", "Dejvice"};
    nlohmann::json list = nlohmann::json::array();
    for (int i = 0; i < groups; ++i) {
        nlohmann::json stops = nlohmann::json::array();
        for (int p = 0; p < 3; ++p)
            stops.push_back({{"id", std::to_string(i) + "/" + std::to_string(p)},
                             {"gtfsIds", {"U" + std::to_string(i) + "Z" + std::to_string(p) + "P"}},
                             {"lines", {{{"name", std::to_string(100 + (i + p) % 300)}, {"type", "bus"}}}}});
        list.push_back({{"name", std::string(words[i % 16]) + " " + words[(i / 16) % 16] + " " + std::to_string(i)},
                        {"municipality", i % 5 ? "Praha" : "Kladno"},
                        {"stops", stops}});
    }
    return QByteArray::fromStdString(nlohmann::json{{"stopGroups", list}}.dump());
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir home;
    bench::useHome(home.path());
    const QByteArray bytes = syntheticList(7000);

    bench::Limits limits;
    const auto parse = bench::sampleMicros(5, [&] {
        auto groups = transitparse::stopList(bytes);
        for (const auto& g : *groups) (void)textfold::fold(g.name);
    });
    std::printf("stop list of 7000 groups (%.1f MB)\n", bytes.size() / 1e6);
    // Read off the GUI thread once a week; about 80 ms here, seconds would mean a quadratic step.
    limits.atMost("read and fold, median of 5", bench::percentile(parse, 50) / 1000.0, 500, "ms");

    TransitService transit;
    // Served from a fresh cache file, as after the first download.
    QDir().mkpath(home.path() + "/.local/share/Lomex");
    QFile f(home.path() + "/.local/share/Lomex/pid-stops.json");
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
    f.close();
    bool done = false;
    transit.ensureStops([&] { done = true; });
    while (!done) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);

    struct Query {
        QString text;
        qsizetype hits; // what the list above holds for it
    };
    // Accents and case folded away ("sidl" finds every Sídliště), words in any order.
    const Query queries[] = {{"na", 2392}, {"nam", 858}, {"sidl", 858}, {"Žižkov 1", 64}, {"andel dej", 27}, {"xyz", 0}};
    double worst = 0;
    bool found = true;
    for (const Query& q : queries) {
        qsizetype hits = 0;
        const auto search = bench::sampleCpuMicros(200, [&] { hits = transit.search(q.text).size(); });
        std::printf("  search \"%s\" (%lld hits): median %.0f us, p99 %.0f us (GUI thread, CPU)\n",
                    q.text.toUtf8().constData(), (long long)hits, bench::percentile(search, 50), bench::percentile(search, 99));
        worst = std::max(worst, bench::percentile(search, 99));
        found = found && hits == q.hits;
    }
    limits.holds("every search found the groups the list holds for it", found);
    // The places page searches on every key while the list is redrawn: a quarter of a frame
    // at most, the rest is the list's; a search that went quadratic would be far over.
    limits.atMost("slowest search's p99 of 200, GUI thread (CPU)", worst / 1000.0, 4, "ms");
    return limits.exitCode();
}
