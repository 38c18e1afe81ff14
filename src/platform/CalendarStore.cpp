#include "platform/CalendarStore.h"

#include <QObject>
#include <algorithm>

namespace lomex {

void CalendarStore::fetchEvents(const QDateTime& from, const QDateTime& to, QObject* context,
                                std::function<void(QList<CalendarEvent>)> done) {
    QList<CalendarEvent> list = events(from, to);
    sortByStart(list);
    if (context) done(std::move(list));
}

void CalendarStore::sortByStart(QList<CalendarEvent>& events) {
    std::stable_sort(events.begin(), events.end(),
                     [](const CalendarEvent& a, const CalendarEvent& b) { return a.start < b.start; });
}

} // namespace lomex
