#pragma once
#include "feeds/TransitService.h"
#include <QDateTime>
#include <QPointer>
#include <QWidget>
#include <functional>

class QLabel;
class QPushButton;
class QToolButton;
class QVBoxLayout;

namespace lomex {

class Clock;
class Timer;

// The transit tab: the chosen stop's next departures and the time to leave for them. Reads the
// transit service and asks it only to load again; setting things up happens on the places
// page, which onOpenPlaces opens. While shown, a 15-second timeline recounts the minutes from
// the dates already held; it is the view's own child and stops when the view hides.
class TransitView : public QWidget {
    Q_OBJECT
public:
    // The content, chosen in this order: the first that applies wins.
    enum class State { timetableLink, noKey, noStop, badKey, network, noDepartures, departures };
    static State stateFor(const TransitService& transit);

    // Whole minutes until the time to leave, rounded up (10 s ahead is 1, 70 s past is −1).
    static int leaveMinutes(const QDateTime& now, const QDateTime& leaveAt);
    static constexpr int maxShown = 8;
    static constexpr double timelineSeconds = 15;

    TransitView(TransitService* transit, Clock* clock = nullptr, QWidget* parent = nullptr);

    // The places page at its departures card (set by the delegate).
    std::function<void()> onOpenPlaces;

    State state() const { return state_; }
    QDateTime timelineNow() const { return now_; }
    Timer* timeline() const { return timeline_; }
    QWidget* content() const { return content_; }
    QWidget* footer() const { return footer_; }
    QLabel* label(const char* name) const;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void tick();
    void updateHeader();
    void updateLeave();
    void rebuildContent();
    void updateFooter();
    void openPlaces();
    void openLink(const std::optional<QUrl>& url);
    QWidget* message(const QString& text, const QString& button, std::function<void()> action, bool prominent = false);

    QPointer<TransitService> transit_;
    Clock* clock_;
    Timer* timeline_;
    QDateTime now_;
    State state_ = State::noKey;

    QLabel* title_;
    QLabel* municipality_;
    QLabel* updated_;
    QToolButton* settings_;
    QWidget* leave_;
    QLabel* leaveText_;
    QLabel* leaveHeadsign_;
    QVBoxLayout* contentSlot_;
    QWidget* content_ = nullptr;
    QWidget* footer_;
    QPushButton* openIdos_;
    QPushButton* attribution_;
};

} // namespace lomex
