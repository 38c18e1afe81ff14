#pragma once
#include "calendar/Calendar.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

namespace lomex {

// "--test-czech": prints the number of Czech working days from now to testCzechTarget.
int testCzechMode(const QStringList& args);

// The fixed day the mode counts to (31 December 2026), formed in the given calendar.
QDateTime testCzechTarget(const Calendar& calendar);
// The line the mode prints, without its newline.
QString testCzechLine(const QDateTime& now, const Calendar& calendar);

} // namespace lomex
