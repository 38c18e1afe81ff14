#pragma once
#include <QDateTime>
#include <QString>

namespace lomex {
class Calendar;
}

// ICU date formatting for the two interface locales ("cs_CZ", "en_US"). The instant is shown
// as the given calendar's wall clock; an invalid date gives "".
namespace lomex::datetext {

// An explicit pattern ("EEE d.M.yyyy HH:mm").
QString withPattern(const QDateTime& date, const QString& pattern, const char* locale, const Calendar& calendar);
// The locale's own pattern for the fields of a skeleton ("EEEdMMM", "jm").
QString withSkeleton(const QDateTime& date, const QString& skeleton, const char* locale, const Calendar& calendar);

} // namespace lomex::datetext
