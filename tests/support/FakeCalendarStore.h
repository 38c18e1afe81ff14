#pragma once
#include "platform/CalendarStore.h"

#include <QCoreApplication>
#include <QPointer>

namespace lomex {

// Calendars, events and tasks in memory, for tests. Fetches answer on the next turn of the
// event loop, or only when a test calls finishFetch() while deferFetches is set.
class FakeCalendarStore : public CalendarStore {
public:
    bool access = true;
    int accessRequests = 0;
    bool grantOnRequest = true;
    QList<CalendarInfo> eventCalendars;
    QList<CalendarInfo> reminderLists;
    std::optional<QString> defaultEventCalendar;
    std::optional<QString> defaultReminderList;
    QList<CalendarEvent> allEvents;
    QList<CalendarTask> tasks;
    std::optional<LomexError> saveError;
    QList<NewEvent> savedEvents;
    QList<NewTask> savedTasks;
    QList<CalendarTask> completed;
    int eventQueries = 0;

    bool deferFetches = false;
    struct Fetch {
        QDateTime dueBefore;
        QPointer<QObject> context;
        std::function<void(QList<CalendarTask>)> done;
    };
    QList<Fetch> pending;

    SkippedSeries skipped;

    SkippedSeries skippedSeries() const override { return skipped; }
    bool hasAccess(Entity) const override { return access; }
    void requestAccess(const QString&, const QString&) override {
        ++accessRequests;
        if (grantOnRequest) access = true;
    }
    QString location() const override { return QStringLiteral("/fake/calendars"); }
    QList<CalendarInfo> calendars(Entity e) const override {
        return e == Entity::event ? eventCalendars : reminderLists;
    }
    std::optional<CalendarInfo> defaultCalendar(Entity e) const override {
        const auto& id = e == Entity::event ? defaultEventCalendar : defaultReminderList;
        for (const CalendarInfo& c : calendars(e))
            if (id && c.id == *id) return c;
        return std::nullopt;
    }
    QList<CalendarEvent> events(const QDateTime& from, const QDateTime& to) const override {
        ++const_cast<FakeCalendarStore*>(this)->eventQueries;
        QList<CalendarEvent> out;
        for (const CalendarEvent& e : allEvents)
            if (e.start < to && (e.end > from || (e.end == e.start && e.start >= from))) out.append(e);
        return out;
    }
    void fetchIncompleteTasks(const QDateTime& dueBefore, QObject* context,
                              std::function<void(QList<CalendarTask>)> done) override {
        pending.append(Fetch{dueBefore, context, std::move(done)});
        if (!deferFetches)
            QMetaObject::invokeMethod(this, [this] { finishFetch(0); }, Qt::QueuedConnection);
    }
    // Answers the index-th waiting fetch with the tasks as they are now.
    void finishFetch(int index) {
        if (index >= pending.size()) return;
        Fetch f = pending.takeAt(index);
        QList<CalendarTask> out;
        for (const CalendarTask& t : tasks) {
            const bool dueLater = (t.dueTime && *t.dueTime >= f.dueBefore) ||
                                  (t.dueDay && t.dueDay->startOfDay() >= f.dueBefore);
            if (!dueLater) out.append(t);
        }
        if (f.context) f.done(out);
    }
    std::optional<LomexError> saveEvent(const NewEvent& e) override {
        if (saveError) return saveError;
        savedEvents.append(e);
        return std::nullopt;
    }
    std::optional<LomexError> saveTask(const NewTask& t) override {
        if (saveError) return saveError;
        savedTasks.append(t);
        return std::nullopt;
    }
    std::optional<LomexError> completeTask(const CalendarTask& t, const QDateTime&) override {
        completed.append(t);
        tasks.removeIf([&](const CalendarTask& x) { return x.uid == t.uid; });
        return saveError;
    }
};

} // namespace lomex
