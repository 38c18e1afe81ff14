#pragma once
// Small helpers shared by the benchmark programs: wall-time samples, a throwaway home, the
// thread's CPU time and the check of each figure against its limit.
#include <QByteArray>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <vector>

namespace lomex::bench {

// Wall times of `runs` calls of fn in microseconds, sorted ascending.
template <typename F>
std::vector<double> sampleMicros(int runs, F&& fn)
{
    std::vector<double> us;
    us.reserve(size_t(runs));
    QElapsedTimer t;
    for (int i = 0; i < runs; ++i) {
        t.start();
        fn();
        us.push_back(double(t.nsecsElapsed()) / 1000.0);
    }
    std::sort(us.begin(), us.end());
    return us;
}

// The thread's CPU time of `runs` calls of fn in microseconds, sorted ascending: for work on
// the GUI thread, whose wall time a busy machine stretches.
template <typename F>
std::vector<double> sampleCpuMicros(int runs, F&& fn);

// The p-th percentile (50 = median) of samples sorted ascending; 0 for none.
inline double percentile(const std::vector<double>& sorted, int p)
{
    if (sorted.empty())
        return 0;
    return sorted[std::min(sorted.size() - 1, sorted.size() * size_t(p) / 100)];
}

// Points HOME and the XDG config and data folders into `home`, so a bench never reads or
// writes the real user's settings, token or agent configuration.
inline void useHome(const QString& home)
{
    qputenv("HOME", home.toUtf8());
    qputenv("XDG_CONFIG_HOME", (home + QStringLiteral("/.config")).toUtf8());
    qputenv("XDG_DATA_HOME", (home + QStringLiteral("/.local/share")).toUtf8());
}

// The thread's CPU time in nanoseconds: unlike wall time, not stretched by other programs
// on a busy machine.
inline qint64 threadCpuNanos()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

template <typename F>
std::vector<double> sampleCpuMicros(int runs, F&& fn)
{
    std::vector<double> us;
    us.reserve(size_t(runs));
    for (int i = 0; i < runs; ++i) {
        const qint64 start = threadCpuNanos();
        fn();
        us.push_back(double(threadCpuNanos() - start) / 1000.0);
    }
    std::sort(us.begin(), us.end());
    return us;
}

// The longest stretch the thread's event loop was busy while it runs: a 0 ms timer notes the
// gaps between its turns, in wall time and in the thread's CPU time.
class StallMeter {
public:
    StallMeter()
    {
        timer_.setInterval(0);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            longest_ = std::max(longest_, gap_.nsecsElapsed());
            const qint64 cpu = threadCpuNanos();
            longestCpu_ = std::max(longestCpu_, cpu - cpuMark_);
            gap_.start();
            cpuMark_ = cpu;
        });
    }
    void start()
    {
        longest_ = longestCpu_ = 0;
        gap_.start();
        cpuMark_ = threadCpuNanos();
        timer_.start();
    }
    void stop() { timer_.stop(); }
    bool isRunning() const { return timer_.isActive(); }
    double longestMs() const { return double(longest_) / 1e6; }
    double longestCpuMs() const { return double(longestCpu_) / 1e6; }

private:
    QTimer timer_;
    QElapsedTimer gap_;
    qint64 longest_ = 0;
    qint64 cpuMark_ = 0;
    qint64 longestCpu_ = 0;
};

// Prints each figure beside its limit and remembers a miss, so that `make bench` stops at a
// regression: main ends with `return limits.exitCode();`.
class Limits {
public:
    // A figure that must stay at or under its limit (times, memory, counts of work done).
    bool atMost(const char* figure, double value, double limit, const char* unit = "")
    {
        return report(figure, value, "<=", limit, unit, value <= limit);
    }
    // A figure that must reach its limit (results found, work that must have happened).
    bool atLeast(const char* figure, double value, double limit, const char* unit = "")
    {
        return report(figure, value, ">=", limit, unit, value >= limit);
    }
    // A count that must come out exactly (occurrences found, files read).
    bool exactly(const char* figure, double value, double expected, const char* unit = "")
    {
        return report(figure, value, "=", expected, unit, value == expected);
    }
    // A yes-or-no result, such as "the note was stored".
    bool holds(const char* figure, bool ok)
    {
        std::printf("  %-62s %12s  %s\n", figure, ok ? "yes" : "no", ok ? "ok" : "MISSED");
        missed_ = missed_ || !ok;
        return ok;
    }
    bool missed() const { return missed_; }
    // Prints the verdict; 0 when every figure was within its limit, else 1.
    int exitCode() const
    {
        std::printf(missed_ ? "LIMITS MISSED\n" : "all within limits\n");
        return missed_ ? 1 : 0;
    }

private:
    bool report(const char* figure, double value, const char* op, double limit, const char* unit, bool ok)
    {
        // Whole figures print whole; measured ones with two decimals.
        const int digits = value == std::floor(value) ? 0 : 2;
        std::printf("  %-62s %12.*f %-3s (limit %s %.10g%s%s)  %s\n", figure, digits, value, unit, op, limit,
                    *unit ? " " : "", unit, ok ? "ok" : "MISSED");
        missed_ = missed_ || !ok;
        return ok;
    }

    bool missed_ = false;
};

// Starts a private Xvfb (it picks a free display and writes its number) for a benchmark that
// needs xclip too; the display's name, or empty when either program is missing.
inline QString startXvfbWithXclip(QProcess& xvfb)
{
    if (QStandardPaths::findExecutable("Xvfb").isEmpty() || QStandardPaths::findExecutable("xclip").isEmpty()) {
        std::fprintf(stderr, "needs Xvfb and xclip\n");
        return {};
    }
    xvfb.start(QStandardPaths::findExecutable("Xvfb"), {"-displayfd", "1", "-nolisten", "tcp"});
    QByteArray number;
    while (!number.endsWith('\n') && xvfb.waitForReadyRead(5000)) number += xvfb.readAllStandardOutput();
    return number.trimmed().isEmpty() ? QString() : ":" + QString::fromLatin1(number.trimmed());
}

} // namespace lomex::bench
