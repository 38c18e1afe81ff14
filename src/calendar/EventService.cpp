#include "calendar/EventService.h"
#include "calendar/Calendar.h"
#include "platform/TextFold.h"
#include "core/Clock.h"
#include "core/L10n.h"
#include "core/Log.h"
#include "core/Settings.h"
#include "platform/Workspace.h"

#include <QPointer>
#include <QRegularExpression>
#include <algorithm>

namespace lomex {

namespace {

constexpr int kDefaultEventSeconds = 3600;
constexpr int kEventAlarmSeconds = 600;

QDateTime distantFuture() { return QDateTime(QDate(4000, 1, 1), QTime(0, 0), QTimeZone::utc()); }

QDateTime dueDate(const CalendarTask& t, const Calendar& cal) {
    if (t.dueTime) return *t.dueTime;
    if (t.dueDay) return cal.startOfDay(*t.dueDay);
    return distantFuture();
}

} // namespace

LomexError EventService::error(AddError e) {
    return LomexError{QString::fromLatin1(addErrorDomain), int(e), QString()};
}

std::optional<EventService::AddError> EventService::addError(const LomexError& e) {
    if (e.domain != QLatin1String(addErrorDomain)) return std::nullopt;
    return AddError(e.code);
}

EventService::EventService(CalendarStore* store, Clock* clock, Settings* settings, Workspace* workspace,
                           QObject* parent)
    : QObject(parent),
      store_(store ? store : CalendarStore::current()),
      clock_(clock ? clock : Clock::current()),
      settings_(settings ? settings : &Settings::shared()),
      workspace_(workspace ? workspace : Workspace::current()) {}

void EventService::start() {
    updateStatus();
    refresh();
    store_->lookForChanges();
    connect(store_, &CalendarStore::changed, this, &EventService::refresh);
    timer_ = new Timer(clock_, this);
    connect(timer_, &Timer::timeout, this, [this] {
        // Also catches changes the folder watch missed; unchanged files are not read again.
        store_->lookForChanges();
        refresh();
    });
    timer_->start(refreshSeconds, true);
}

void EventService::updateStatus() {
    const bool events = store_->hasAccess(CalendarStore::Entity::event);
    const bool reminders = store_->hasAccess(CalendarStore::Entity::reminder);
    if (events == eventsAccess_ && reminders == remindersAccess_) return;
    eventsAccess_ = events;
    remindersAccess_ = reminders;
    emit accessChanged();
}

void EventService::refresh() {
    updateStatus();
    const Calendar cal = Calendar::current();
    const QDateTime now = clock_->now();
    const QDateTime startOfToday = cal.startOfDay(now);
    const QDateTime tomorrow = cal.addingDays(1, startOfToday);
    refreshEvents(now, startOfToday, tomorrow);
    refreshReminders(startOfToday, tomorrow);
}

void EventService::refreshEvents(const QDateTime& now, const QDateTime& startOfToday, const QDateTime& tomorrow) {
    if (!eventsAccess_) {
        eventFetchPublished_ = eventFetchesStarted_;
        todayEvents_.clear();
        upcomingEvents_.clear();
        soonEvent_.reset();
        emit eventsChanged();
        return;
    }
    const Calendar cal = Calendar::current();
    const int r = settings_->get(keys::agendaDays);
    const int d = std::clamp(r, 1, 7);
    // The window reaches whichever is later: its length in elapsed hours or in calendar days, so
    // a 25-hour day at the end of daylight saving loses no event at the window's end.
    const QDateTime byHours = cal.addingHours(r < 2 ? 36 : 24 * d, startOfToday);
    const QDateTime byDays = r < 2 ? cal.addingHours(12, tomorrow) : cal.addingDays(d, startOfToday);
    const QDateTime windowEnd = std::max(byHours, byDays);

    const quint64 fetch = ++eventFetchesStarted_;
    QPointer<EventService> self(this);
    store_->fetchEvents(startOfToday, windowEnd, this,
                        [self, fetch, now, tomorrow, limit = cal.addingDays(d, startOfToday), r](QList<CalendarEvent> events) {
                            if (self) self->publishEvents(fetch, events, now, tomorrow, limit, r >= 2);
                        });
}

void EventService::publishEvents(quint64 fetch, const QList<CalendarEvent>& events, const QDateTime& now,
                                 const QDateTime& tomorrow, const QDateTime& limit, bool withUpcoming) {
    // A fetch that started before the one already shown is stale.
    if (fetch <= eventFetchPublished_ || !eventsAccess_) return;
    eventFetchPublished_ = fetch;
    todayEvents_.clear();
    upcomingEvents_.clear();
    soonEvent_.reset();
    const int lead = settings_->get(keys::meetingLead);
    // Compared as instants: a comparison with a local time asks the C library every time, which
    // is slow over thousands of events.
    const qint64 nowMs = now.toMSecsSinceEpoch();
    const qint64 tomorrowMs = tomorrow.toMSecsSinceEpoch();
    const qint64 limitMs = limit.toMSecsSinceEpoch();
    const qint64 soonFromMs = nowMs - qint64(soonGraceSeconds) * 1000;
    const qint64 soonToMs = nowMs + qint64(lead) * 60 * 1000;
    for (const CalendarEvent& e : events) {
        const qint64 start = e.start.toMSecsSinceEpoch();
        if (start < tomorrowMs && (e.allDay || e.end.toMSecsSinceEpoch() > nowMs)) todayEvents_.append(e);
        if (withUpcoming && start >= tomorrowMs && start < limitMs) upcomingEvents_.append(e);
        if (!soonEvent_ && !e.allDay && start > soonFromMs && start <= soonToMs) soonEvent_ = e;
    }
    emit eventsChanged();
}

void EventService::refreshReminders(const QDateTime& startOfToday, const QDateTime& tomorrow) {
    if (!remindersAccess_) {
        // Fetches still under way must not publish after access is gone.
        fetchPublished_ = fetchesStarted_;
        overdue_.clear();
        today_.clear();
        upcoming_.clear();
        emit remindersChanged();
        return;
    }
    const quint64 fetch = ++fetchesStarted_;
    const QDateTime bound = Calendar::current().addingDays(reminderDays, startOfToday);
    QPointer<EventService> self(this);
    store_->fetchIncompleteTasks(bound, this, [self, fetch, startOfToday, tomorrow](QList<CalendarTask> tasks) {
        if (self) self->publishReminders(fetch, std::move(tasks), startOfToday, tomorrow);
    });
}

void EventService::publishReminders(quint64 fetch, QList<CalendarTask> tasks, const QDateTime& startOfToday,
                                    const QDateTime& tomorrow) {
    // A fetch that started before the one already shown is stale.
    if (fetch <= fetchPublished_ || !remindersAccess_) return;
    fetchPublished_ = fetch;
    // Each due date worked out once, as an instant: the calendar's start of a day is slow to
    // ask for at every comparison of a sort.
    const Calendar cal = Calendar::current();
    QList<std::pair<qint64, const CalendarTask*>> order;
    order.reserve(tasks.size());
    for (const CalendarTask& t : tasks) order.append({dueDate(t, cal).toMSecsSinceEpoch(), &t});
    std::stable_sort(order.begin(), order.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    overdue_.clear();
    today_.clear();
    upcoming_.clear();
    const qint64 startOfTodayMs = startOfToday.toMSecsSinceEpoch();
    const qint64 tomorrowMs = tomorrow.toMSecsSinceEpoch();
    for (const auto& [due, t] : order) {
        const bool dated = t->dueTime || t->dueDay;
        if (due < startOfTodayMs) overdue_.append(*t);
        else if (dated && due < tomorrowMs) today_.append(*t);
        else if (dated) upcoming_.append(*t);
    }
    emit remindersChanged();
}

void EventService::requestAccess() {
    QPointer<EventService> self(this);
    QMetaObject::invokeMethod(this, [self] {
        if (!self) return;
        const L10n& l = L10n::shared();
        self->store_->requestAccess(l.t(QStringLiteral("calendar.newCalendar")), l.t(QStringLiteral("calendar.newList")));
        self->updateStatus();
        if (!self->eventsAccess_ || !self->remindersAccess_)
            self->workspace_->open(QUrl::fromLocalFile(self->store_->location()));
        self->refresh();
    }, Qt::QueuedConnection);
}

void EventService::complete(const CalendarTask& reminder) {
    if (auto err = store_->completeTask(reminder, clock_->now())) log("completing a reminder failed: " + err->message);
    refresh();
}

QList<CalendarInfo> EventService::eventCalendars() const {
    QList<CalendarInfo> out;
    for (const CalendarInfo& c : store_->calendars(CalendarStore::Entity::event))
        if (c.writable) out.append(c);
    return out;
}

std::optional<CalendarInfo> EventService::calendarNamed(const std::optional<QString>& name,
                                                        const QList<CalendarInfo>& in) {
    if (!name || name->isEmpty()) return std::nullopt;
    const QString folded = textfold::fold(*name);
    for (const CalendarInfo& c : in)
        if (textfold::fold(c.title) == folded) return c;
    for (const CalendarInfo& c : in)
        if (textfold::fold(c.title).startsWith(folded)) return c;
    return std::nullopt;
}

std::optional<LomexError> EventService::add(const QuickAddResult& result) {
    const Calendar cal = Calendar::current();
    if (result.kind == QuickAddResult::Kind::reminder) {
        if (!remindersAccess_) return error(AddError::noAccess);
        auto list = calendarNamed(result.listName, store_->calendars(CalendarStore::Entity::reminder));
        if (!list) list = store_->defaultCalendar(CalendarStore::Entity::reminder);
        if (!list) return error(AddError::noCalendar);
        NewTask task;
        task.calendarId = list->id;
        task.title = result.title;
        if (result.start && result.hasTime) {
            const auto c = cal.components(*result.start);
            task.dueTime = cal.date(c.year, c.month, c.day, c.hour, c.minute).value_or(*result.start);
            task.alarmAt = *result.start;
        } else if (result.start) {
            task.dueDay = cal.localDate(*result.start);
        }
        if (result.priority >= 1) task.priority = std::min(result.priority, 9);
        if (auto err = store_->saveTask(task)) return err;
        refresh();
        return std::nullopt;
    }

    if (!eventsAccess_) return error(AddError::noAccess);
    auto calendar = calendarNamed(result.listName, eventCalendars());
    if (!calendar) calendar = store_->defaultCalendar(CalendarStore::Entity::event);
    if (!calendar) return error(AddError::noCalendar);
    NewEvent event;
    event.calendarId = calendar->id;
    event.title = result.title;
    const QDateTime start = result.start.value_or(cal.startOfDay(clock_->now()));
    if (result.hasTime) {
        event.start = start;
        event.end = result.end.value_or(start.addSecs(kDefaultEventSeconds));
        if (event.end <= event.start) return error(AddError::invalidDates);
        event.alarmSecondsBefore = kEventAlarmSeconds;
    } else {
        // One whole day, the start's day in the user's calendar.
        event.allDay = true;
        event.day = cal.localDate(start);
    }
    if (auto err = store_->saveEvent(event)) return err;
    refresh();
    return std::nullopt;
}

std::optional<QUrl> EventService::meetingLink(const CalendarEvent& event) {
    // Hosts are anchored at a label boundary: "evilzoom.us" or "meet.google.com.example" are not
    // meeting links, while "company.zoom.us" is.
    static const QRegularExpression pattern(QStringLiteral(
        R"(https://(?:meet\.google\.com|teams\.microsoft\.com|teams\.live\.com|(?:[\w-]+\.)*zoom\.us|)"
        R"((?:[\w-]+\.)*webex\.com|whereby\.com)/[^\s<>"]+)"));
    QStringList parts;
    if (event.url) parts << *event.url;
    if (event.location) parts << *event.location;
    if (event.notes) parts << *event.notes;
    const QRegularExpressionMatch m = pattern.match(parts.join(u' '));
    if (!m.hasMatch()) return std::nullopt;
    const QUrl url(m.captured(0), QUrl::StrictMode);
    if (!url.isValid()) return std::nullopt;
    return url;
}

} // namespace lomex
