#pragma once
#include "calendar/QuickAddResult.h"
#include "core/LomexError.h"
#include "platform/CalendarStore.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QUrl>
#include <optional>

namespace lomex {

class Clock;
class Settings;
class Timer;
class Workspace;

// The calendar and reminders service: today's agenda and the coming days, the soon meeting,
// and the incomplete reminders split into overdue, today and upcoming. Adds quick-add results and
// completes reminders. One instance, owned by the app delegate; lives on the GUI thread and is
// the only writer of its lists. It has no visible text of its own.
class EventService : public QObject {
    Q_OBJECT
public:
    // Why add() refused before touching the store. The store's own errors come back unchanged.
    enum class AddError {
        noAccess,
        noCalendar,
        invalidDates, // a timed event whose end is not after its start
    };
    static constexpr const char* addErrorDomain = "EventService.AddError";
    static LomexError error(AddError e);
    static std::optional<AddError> addError(const LomexError& e);

    static constexpr double refreshSeconds = 30;
    static constexpr int soonGraceSeconds = 300;
    static constexpr int reminderDays = 8;

    explicit EventService(CalendarStore* store = nullptr, Clock* clock = nullptr, Settings* settings = nullptr,
                          Workspace* workspace = nullptr, QObject* parent = nullptr);

    bool eventsAccess() const { return eventsAccess_; }
    bool remindersAccess() const { return remindersAccess_; }
    const QList<CalendarEvent>& todayEvents() const { return todayEvents_; }
    const QList<CalendarEvent>& upcomingEvents() const { return upcomingEvents_; }
    const std::optional<CalendarEvent>& soonEvent() const { return soonEvent_; }
    const QList<CalendarTask>& overdue() const { return overdue_; }
    const QList<CalendarTask>& today() const { return today_; }
    const QList<CalendarTask>& upcoming() const { return upcoming_; }
    CalendarStore* store() const { return store_; }
    // The recurring series the store leaves out; eventsChanged() follows a change.
    SkippedSeries skippedSeries() const { return store_->skippedSeries(); }

    // Once, after launch: the first refresh, then the store's changes and the 30-second timer.
    void start();
    void refresh();
    // Returns at once; the request runs on the next turn of the event loop.
    void requestAccess();
    void complete(const CalendarTask& reminder);
    std::optional<LomexError> add(const QuickAddResult& result);

    QList<CalendarInfo> eventCalendars() const;
    static std::optional<QUrl> meetingLink(const CalendarEvent& event);
    static bool hasDueTime(const CalendarTask& reminder) { return reminder.dueTime.has_value(); }

Q_SIGNALS:
    void accessChanged();
    void eventsChanged();    // todayEvents, upcomingEvents, soonEvent
    void remindersChanged(); // overdue, today, upcoming

private:
    void updateStatus();
    void refreshEvents(const QDateTime& now, const QDateTime& startOfToday, const QDateTime& tomorrow);
    void publishEvents(quint64 fetch, const QList<CalendarEvent>& events, const QDateTime& now,
                       const QDateTime& tomorrow, const QDateTime& limit, bool withUpcoming);
    void refreshReminders(const QDateTime& startOfToday, const QDateTime& tomorrow);
    void publishReminders(quint64 fetch, QList<CalendarTask> tasks, const QDateTime& startOfToday,
                          const QDateTime& tomorrow);
    static std::optional<CalendarInfo> calendarNamed(const std::optional<QString>& name, const QList<CalendarInfo>& in);

    CalendarStore* store_;
    Clock* clock_;
    Settings* settings_;
    Workspace* workspace_;
    Timer* timer_ = nullptr;

    bool eventsAccess_ = false;
    bool remindersAccess_ = false;
    QList<CalendarEvent> todayEvents_;
    QList<CalendarEvent> upcomingEvents_;
    std::optional<CalendarEvent> soonEvent_;
    QList<CalendarTask> overdue_;
    QList<CalendarTask> today_;
    QList<CalendarTask> upcoming_;

    // Event fetches likewise.
    quint64 eventFetchesStarted_ = 0;
    quint64 eventFetchPublished_ = 0;
    // Reminder fetches are numbered: one that started before the last published one is stale.
    quint64 fetchesStarted_ = 0;
    quint64 fetchPublished_ = 0;
};

} // namespace lomex
