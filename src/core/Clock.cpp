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

void Clock::fire(Timer* timer) { timer->fire(); }

void Timer::singleShot(Clock* clock, double seconds, QObject* context, std::function<void()> fn) {
    auto* t = new Timer(clock, context);
    QObject::connect(t, &Timer::timeout, context, [t, fn = std::move(fn)] {
        t->deleteLater();
        fn();
    });
    t->start(seconds, false);
}

} // namespace lomex
