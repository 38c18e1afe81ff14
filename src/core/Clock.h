#pragma once
#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QTimeZone>
#include <functional>

namespace lomex {

class Timer;

// The source of "now" and of timer firings for every time-driven rule. The app uses
// Clock::system(); tests install a FakeClock and move time with advance() instead of sleeping.
class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;

    // The clock used by objects that were not handed one explicitly.
    static Clock* system();
    static Clock* current();
    static void setCurrent(Clock* clock); // nullptr restores the system clock

protected:
    friend class Timer;
    virtual void arm(Timer* timer, qint64 intervalMs) = 0;
    virtual void disarm(Timer* timer) = 0;
    // For clocks of other kinds (a test clock): fires a timer that fell due.
    static void fire(Timer* timer);
};

// A single-shot or repeating timer driven by a Clock.
class Timer : public QObject {
    Q_OBJECT
public:
    explicit Timer(Clock* clock = nullptr, QObject* parent = nullptr);
    ~Timer() override;

    void start(double seconds, bool repeat = false);
    void stop();
    bool isActive() const { return active_; }
    bool isRepeating() const { return repeat_; }
    qint64 intervalMs() const { return intervalMs_; }
    Clock* clock() const { return clock_; }

    // Runs fn once after the given seconds; the call is dropped when context dies first.
    static void singleShot(Clock* clock, double seconds, QObject* context, std::function<void()> fn);

Q_SIGNALS:
    void timeout();

private:
    friend class Clock;
    friend class SystemClock;
    void fire();

    Clock* clock_;
    bool active_ = false;
    bool repeat_ = false;
    qint64 intervalMs_ = 0;
    QObject* backing_ = nullptr; // the system clock's QTimer
};

} // namespace lomex
