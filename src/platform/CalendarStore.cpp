#include "platform/CalendarStore.h"
#include "platform/VdirCalendarStore.h"

#include <QCoreApplication>
#include <QPointer>
#include <algorithm>

namespace lomex {

namespace {
CalendarStore* g_installed = nullptr;
}

CalendarStore* CalendarStore::current() {
    if (g_installed) return g_installed;
    static VdirCalendarStore* vdir = new VdirCalendarStore(VdirCalendarStore::defaultRoot(), nullptr,
                                                           QCoreApplication::instance());
    return vdir;
}

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

void CalendarStore::setCurrent(CalendarStore* store) { g_installed = store; }

} // namespace lomex
