#include "FakeClock.h"
#include <algorithm>

namespace lomex {

FakeClock::FakeClock(QDateTime start) : now_(std::move(start)) {}
FakeClock::~FakeClock() = default;

void FakeClock::arm(Timer* timer, qint64 intervalMs) {
    disarm(timer);
    due_.emplace(now_.addMSecs(intervalMs), QPointer<Timer>(timer));
}

void FakeClock::disarm(Timer* timer) {
    for (auto it = due_.begin(); it != due_.end();) {
        if (it->second == timer || it->second.isNull()) it = due_.erase(it);
        else ++it;
    }
}

void FakeClock::advance(double seconds) {
    const QDateTime end = now_.addMSecs(qint64(seconds * 1000.0 + 0.5));
    while (!due_.empty() && due_.begin()->first <= end) {
        auto it = due_.begin();
        QDateTime when = it->first;
        QPointer<Timer> timer = it->second;
        due_.erase(it);
        if (!timer) continue;
        now_ = std::max(now_, when);
        if (timer->isRepeating() && timer->isActive())
            due_.emplace(now_.addMSecs(std::max<qint64>(1, timer->intervalMs())), timer);
        fire(timer);
    }
    now_ = std::max(now_, end);
}

} // namespace lomex
