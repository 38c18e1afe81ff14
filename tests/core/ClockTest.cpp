#include "core/Clock.h"
#include "FakeClock.h"
#include <gtest/gtest.h>

using namespace lomex;

TEST(FakeClock, FiresTimersInOrderAsTimeMoves) {
    FakeClock clock;
    const QDateTime start = clock.now();
    std::vector<std::pair<QString, qint64>> fired;
    Timer a(&clock), b(&clock), r(&clock);
    QObject::connect(&a, &Timer::timeout, [&] { fired.push_back({"a", start.msecsTo(clock.now())}); });
    QObject::connect(&b, &Timer::timeout, [&] { fired.push_back({"b", start.msecsTo(clock.now())}); });
    QObject::connect(&r, &Timer::timeout, [&] { fired.push_back({"r", start.msecsTo(clock.now())}); });
    a.start(0.18);
    b.start(0.1);
    r.start(0.15, true);
    clock.advance(0.1);
    clock.advance(0.25);
    b.start(0.1);
    b.stop();
    clock.advance(1);
    r.stop();
    std::vector<std::pair<QString, qint64>> expected = {
        {"b", 100}, {"r", 150}, {"a", 180}, {"r", 300}, {"r", 450}, {"r", 600}, {"r", 750},
        {"r", 900}, {"r", 1050}, {"r", 1200}, {"r", 1350}};
    EXPECT_EQ(fired, expected);
    EXPECT_FALSE(a.isActive());
    EXPECT_EQ(start.msecsTo(clock.now()), 1350);
}

TEST(FakeClock, DestroyedTimerNeverFires) {
    FakeClock clock;
    int n = 0;
    {
        Timer t(&clock);
        QObject::connect(&t, &Timer::timeout, [&] { ++n; });
        t.start(1);
    }
    QObject ctx;
    Timer::singleShot(&clock, 2, &ctx, [&] { n += 10; });
    clock.advance(5);
    EXPECT_EQ(n, 10);
}
