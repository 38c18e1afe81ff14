// Quick-add parser and folding speed: the parser runs on every keystroke of the quick-add field.
// Prints the parse time per line over a few hundred varied lines and the time to fold a
// 1,000-character text, in the thread's CPU time, and exits non-zero when one misses its limit.
#include "BenchSupport.h"
#include "calendar/Calendar.h"
#include "calendar/QuickAddParser.h"
#include "platform/TextFold.h"

#include <QDateTime>
#include <QStringList>
#include <QTimeZone>
#include <algorithm>
#include <cstdio>
#include <vector>

using namespace lomex;

namespace {

QStringList lines() {
    const QStringList subjects = {
        "porada s Petrem", "Zubař", "koupit mléko", "zavolat mámě", "oběd s Janou", "dentist", "call mom",
        "team sync", "zaplatit nájem", "pay rent", "trénink", "koncert v Lucerně", "review PR", "vyzvednout balík",
        "schůzka v 10. patře", "sraz v 10 lidí", "workshop", "kadeřnice", "flight to Oslo", "úklid sklepa",
    };
    const QStringList whens = {
        "zítra v 10", "dnes večer", "v pátek ve 14:30", "příští týden v pondělí", "next week on friday",
        "24.12.", "3.1.2027", "15. března", "dec 24th", "za 2 hodiny", "za 3 dny", "in 2 weeks",
        "za 2 pracovní dny", "od 9 do 11", "18-20", "tomorrow at 9am", "at 5pm", "pozítří ráno",
        "o víkendu", "ve 2 v noci", "", "na hodinu zítra v 8", "for 30 min today at 4", "31.2.",
        "zítra 18.30.", "22-10", "29. února v 10",
    };
    const QStringList extras = {"", " !", " !!", " @Práce", " @Home !!!", " na půl hodiny"};
    const QStringList prefixes = {"", "", "Připomeň mi ", "remind me to ", "událost ", "todo: "};
    QStringList out;
    int i = 0;
    for (const QString& s : subjects)
        for (const QString& w : whens) {
            const QString line = prefixes[i % prefixes.size()] + (i % 2 ? s + u' ' + w : w + u' ' + s) + extras[i % extras.size()];
            out << line.simplified();
            ++i;
        }
    return out; // 540 lines
}

// The thread's CPU time of one call of f, averaged over repeat calls.
template <typename F>
double microseconds(F&& f, int repeat) {
    const qint64 start = bench::threadCpuNanos();
    for (int i = 0; i < repeat; ++i) f();
    return double(bench::threadCpuNanos() - start) / 1000.0 / repeat;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return bench::percentile(v, 50);
}

} // namespace

int main() {
    const Calendar cal = *Calendar::withTimeZone("Europe/Prague");
    QDateTime now = QDateTime::fromString("2026-12-08 14:30", "yyyy-MM-dd HH:mm");
    now.setTimeZone(QTimeZone("Europe/Prague"));
    const QStringList all = lines();

    // Warm up: compiled patterns and ICU objects are made on first use.
    for (const QString& line : all) QuickAddParser::parse(line, now, cal);

    std::vector<double> perLine;
    volatile int sink = 0;
    for (const QString& line : all)
        perLine.push_back(microseconds([&] { sink = sink + QuickAddParser::parse(line, now, cal).title.size(); }, 50));
    bench::Limits limits;
    std::printf("quick-add parse of %lld lines (CPU per line)\n", (long long)all.size());
    // The field parses on every key on the GUI thread: tens of microseconds a line here; a
    // pattern that backtracks or a loop over days would be milliseconds.
    limits.atMost("median line", median(perLine), 200, "us");
    limits.atMost("slowest line", *std::max_element(perLine.begin(), perLine.end()), 1000, "us");

    // The longest loop a line can ask for: a count of working days just past the ten-year bound.
    const QString far = QStringLiteral("úklid za 3660 pracovních dní");
    std::printf("quick-add parse of \"%s\"\n", far.toUtf8().constData());
    limits.atMost("the line asking for the longest loop", microseconds([&] { sink = sink + QuickAddParser::parse(far, now, cal).title.size(); }, 5),
                  2000, "us");

    QString text;
    const QString sample = QStringLiteral("Připomeň mi ŽLUŤOUČKÝ kůň úpěl ďábelské ódy 👍🏽 Straße ﬁ İ café ");
    while (text.size() < 1000) text += sample;
    text.truncate(1000);
    std::vector<double> folds;
    for (int i = 0; i < 21; ++i) folds.push_back(microseconds([&] { sink = sink + textfold::fold(text).size(); }, 20));
    // Folding is linear: about 60 us for 1,000 characters.
    limits.atMost("fold of a 1,000-character text, median", median(folds), 500, "us");
    return limits.exitCode();
}
