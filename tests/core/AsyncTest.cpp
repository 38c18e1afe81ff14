#include "TestEnv.h"
#include "core/Async.h"

#include <QSemaphore>
#include <atomic>
#include <gtest/gtest.h>

using namespace lomex;

// Slow tools that hang fill their own pool, however many: a short read on the global pool still
// completes, and the slow ones finish once let go.
TEST(Async, HangingSlowWorkNeverHoldsBackShortReads) {
    const int hanging = std::max(QThreadPool::globalInstance()->maxThreadCount(), 2);
    QSemaphore letGo;
    std::atomic<int> started{0};
    int slowDone = 0;
    QObject context;
    for (int i = 0; i < hanging; ++i)
        runSlowThen(&context, [&] {
            ++started;
            letGo.acquire();
            return 0;
        }, [&](int) { ++slowDone; });
    ASSERT_TRUE(test::waitUntil([&] { return started >= std::min(hanging, slowPool()->maxThreadCount()); }));

    bool read = false;
    runThen(&context, [] { return 42; }, [&](int v) { read = v == 42; });
    EXPECT_TRUE(test::waitUntil([&] { return read; }, 2000));

    letGo.release(hanging);
    EXPECT_TRUE(test::waitUntil([&] { return slowDone == hanging; }));
}
