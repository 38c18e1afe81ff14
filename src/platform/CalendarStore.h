#pragma once
#include "core/LomexError.h"

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <functional>
#include <optional>

namespace lomex {

// One calendar (events) or reminder list (tasks). In the vdir layout both are folders.
struct CalendarInfo {
    QString id;         // stable within one store (the folder name)
    QString title;      // shown to the user; the folder name when there is no "displayname"
    QString color;      // "#RRGGBB" or "#RRGGBBAA" as the folder's "color" file says; may be empty
    bool writable = true;

    bool operator==(const CalendarInfo&) const = default;
};

// One occurrence of an event: a single event, or one instance of a recurring series.
struct CalendarEvent {
    QString uid;
    QString calendarId;
    QString title;
    QDateTime start;
    QDateTime end;      // exclusive; the start of the next day for a one-day all-day event
    bool allDay = false;
    std::optional<QString> url;
    std::optional<QString> location;
    std::optional<QString> notes;

    bool operator==(const CalendarEvent&) const = default;
};

// One task (reminder). The due date is a day alone or a day with a clock time.
struct CalendarTask {
    QString uid;
    QString calendarId;
    QString title;
    std::optional<QDate> dueDay;      // a due date without time
    std::optional<QDateTime> dueTime; // a due date with time (an instant)
    int priority = 0;                 // 0 none, else 1 (highest) .. 9 (lowest)
    bool recurring = false;
    QString itemPath;                 // where the store keeps it (completing finds it there)

    bool operator==(const CalendarTask&) const = default;
};

// Recurring series a store does not show because their rules would take too long to follow.
struct SkippedSeries {
    int count = 0;
    QString firstFile; // where the first of them is written

    bool operator==(const SkippedSeries&) const = default;
};

// What the calendar service hands to the store to create an event.
struct NewEvent {
    QString calendarId;
    QString title;
    bool allDay = false;
    QDate day;                         // all-day: the event's one day
    QDateTime start;                   // timed
    QDateTime end;                     // timed, after start
    std::optional<int> alarmSecondsBefore;
};

// What the calendar service hands to the store to create a task.
struct NewTask {
    QString calendarId;
    QString title;
    std::optional<QDate> dueDay;
    std::optional<QDateTime> dueTime;
    std::optional<QDateTime> alarmAt;
    int priority = 0;
};

// The user's calendars and reminder lists (the macOS calendar store's place on Linux). One
// interface: VdirCalendarStore reads and writes the vdir folders calendar sync tools keep;
// FakeCalendarStore keeps everything in memory for tests. Used on the GUI thread.
class CalendarStore : public QObject {
    Q_OBJECT
public:
    enum class Entity { event, reminder };

    using QObject::QObject;

    // Full access: the store can be read. Events and reminders share the same place here.
    virtual bool hasAccess(Entity entity) const = 0;
    // Makes the store usable when it does not exist yet, with one calendar and one reminder list
    // of the given titles (never fails loudly; check hasAccess).
    virtual void requestAccess(const QString& calendarTitle, const QString& listTitle) = 0;
    // Where the user can look at the store and its permissions (a folder for vdir).
    virtual QString location() const = 0;

    // In the store's order.
    virtual QList<CalendarInfo> calendars(Entity entity) const = 0;
    virtual std::optional<CalendarInfo> defaultCalendar(Entity entity) const = 0;

    // Occurrences overlapping [from, to), recurrences expanded, in no particular order.
    virtual QList<CalendarEvent> events(const QDateTime& from, const QDateTime& to) const = 0;
    // The same occurrences sorted by start, for done on the GUI thread unless context is gone by
    // then. Stores that expand many series do it on another thread and call done later; this
    // default answers inside the call.
    virtual void fetchEvents(const QDateTime& from, const QDateTime& to, QObject* context,
                             std::function<void(QList<CalendarEvent>)> done);
    // Incomplete tasks that have no due date or are due before dueBefore. done runs later on
    // the GUI thread (never inside this call), unless context is gone by then.
    virtual void fetchIncompleteTasks(const QDateTime& dueBefore, QObject* context,
                                      std::function<void(QList<CalendarTask>)> done) = 0;

    virtual std::optional<LomexError> saveEvent(const NewEvent& event) = 0;
    virtual std::optional<LomexError> saveTask(const NewTask& task) = 0;
    // Marks the task done; a recurring task moves on to its next occurrence instead.
    virtual std::optional<LomexError> completeTask(const CalendarTask& task, const QDateTime& now) = 0;

    // The series the last read left out; changed() follows when this changes.
    virtual SkippedSeries skippedSeries() const { return {}; }

    // Looks for changes made by other programs in the background; changed() follows when any.
    virtual void lookForChanges() {}

    // The store used when none is handed in: the vdir folders, unless a test installed another.
    static CalendarStore* current();
    static void setCurrent(CalendarStore* store); // nullptr restores the vdir store

protected:
    static void sortByStart(QList<CalendarEvent>& events);

Q_SIGNALS:
    // The store's content changed under us (another program); our own writes do not signal.
    void changed();
};

} // namespace lomex
