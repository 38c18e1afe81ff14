#pragma once
#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace lomex::datetext {

// ICU date formatting for the two interface locales ("cs_CZ", "en_US").
// Both take the IANA zone to show the instant in; an invalid date gives "".

// An explicit pattern ("EEE d.M.yyyy HH:mm").
QString withPattern(const QDateTime& date, const QString& pattern, const char* locale, const QByteArray& timeZoneId);
// The locale's own pattern for the fields of a skeleton ("EEEMMMd", "jm").
QString withSkeleton(const QDateTime& date, const QString& skeleton, const char* locale, const QByteArray& timeZoneId);

} // namespace lomex::datetext
