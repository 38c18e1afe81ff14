#pragma once
#include "core/Clock.h"
#include <map>

namespace lomex {

// Test clock: time stands still until advance() moves it, firing due timers in order.
class FakeClock : public Clock {
public:
    explicit FakeClock(QDateTime start = QDateTime(QDate(2026, 3, 2), QTime(9, 0), QTimeZone::utc()));
    ~FakeClock() override;
    QDateTime now() const override { return now_; }
    void set(const QDateTime& t) { now_ = t; }
    void advance(double seconds);
    int pendingTimers() const { return int(due_.size()); }

protected:
    void arm(Timer* timer, qint64 intervalMs) override;
    void disarm(Timer* timer) override;

private:
    QDateTime now_;
    std::multimap<QDateTime, QPointer<Timer>> due_;
};

} // namespace lomex
