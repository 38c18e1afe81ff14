#include "platform/CalendarStore.h"
#include "platform/VdirCalendarStore.h"

#include <QCoreApplication>
#include <QPointer>

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

void CalendarStore::setCurrent(CalendarStore* store) { g_installed = store; }

} // namespace lomex
