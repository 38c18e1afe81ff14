#include "calendar/TestCzechMode.h"

#include "calendar/CzechCalendar.h"
#include "core/Clock.h"

#include <cstdio>

namespace lomex {

QDateTime testCzechTarget(const Calendar& calendar)
{
    return calendar.date(2026, 12, 31).value_or(QDateTime());
}

QString testCzechLine(const QDateTime& now, const Calendar& calendar)
{
    return QString::number(CzechCalendar::workdays(testCzechTarget(calendar), now, calendar));
}

int testCzechMode(const QStringList& /*args*/)
{
    const QByteArray line = testCzechLine(Clock::current()->now(), Calendar::current()).toUtf8() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fflush(stdout);
    return 0;
}

} // namespace lomex
