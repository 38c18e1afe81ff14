#include "core/Clock.h"
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <limits>

namespace lomex {

class SystemClock : public Clock {
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }

protected:
    void arm(Timer* timer, qint64 intervalMs) override {
        auto* qt = qobject_cast<QTimer*>(timer->backing_);
        if (!qt) {
            qt = new QTimer(timer);
            QObject::connect(qt, &QTimer::timeout, timer, [timer] { timer->fire(); });
            timer->backing_ = qt;
        }
        qt->setTimerType(intervalMs < 2000 ? Qt::PreciseTimer : Qt::CoarseTimer);
        qt->setSingleShot(!timer->isRepeating());
        qt->start(int(std::min<qint64>(intervalMs, std::numeric_limits<int>::max())));
    }
    void disarm(Timer* timer) override {
        if (auto* qt = qobject_cast<QTimer*>(timer->backing_)) qt->stop();
    }
};

namespace {
Clock* g_current = nullptr;
}

Clock* Clock::system() {
    static SystemClock clock;
    return &clock;
}

Clock* Clock::current() { return g_current ? g_current : system(); }
void Clock::setCurrent(Clock* clock) { g_current = clock; }

Timer::Timer(Clock* clock, QObject* parent) : QObject(parent), clock_(clock ? clock : Clock::current()) {}

Timer::~Timer() {
    if (active_) clock_->disarm(this);
}

void Timer::start(double seconds, bool repeat) {
    if (active_) clock_->disarm(this);
    repeat_ = repeat;
    // Bounded before the conversion: a hand-edited setting may ask for any number of seconds.
    constexpr double maxSeconds = 1e9;
    intervalMs_ = std::isfinite(seconds) ? qint64(std::clamp(seconds, 0.0, maxSeconds) * 1000.0 + 0.5) : 0;
    active_ = true;
    clock_->arm(this, intervalMs_);
}

void Timer::stop() {
    if (!active_) return;
    active_ = false;
    clock_->disarm(this);
}

void Timer::fire() {
    if (!active_) return;
    if (!repeat_) active_ = false;
    Q_EMIT timeout();
}

void Timer::singleShot(Clock* clock, double seconds, QObject* context, std::function<void()> fn) {
    auto* t = new Timer(clock, context);
    QObject::connect(t, &Timer::timeout, context, [t, fn = std::move(fn)] {
        t->deleteLater();
        fn();
    });
    t->start(seconds, false);
}

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
        timer->fire();
    }
    now_ = std::max(now_, end);
}

} // namespace lomex
