#include "calendar/DateText.h"
#include "calendar/Calendar.h"

#include <QHash>
#include <QTimeZone>
#include <limits>
#include <memory>
#include <unicode/gregocal.h>
#include <unicode/dtptngen.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>

namespace lomex::datetext {

namespace {

icu::UnicodeString ustr(const QString& s) {
    return icu::UnicodeString(reinterpret_cast<const UChar*>(s.utf16()), int32_t(s.size()));
}

QString qstr(const icu::UnicodeString& s) {
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(s.getBuffer()), s.length());
}

// Formatters are costly to build and the quick-add preview formats on every keystroke: keep one
// per locale and pattern, per thread (an ICU formatter is not thread-safe). nullptr when ICU
// refuses the pattern.
const icu::SimpleDateFormat* formatter(const icu::UnicodeString& pattern, const char* locale) {
    thread_local QHash<QString, std::shared_ptr<icu::SimpleDateFormat>> formatters;
    const QString key = QString::fromLatin1(locale) + u'\n' + qstr(pattern);
    auto it = formatters.constFind(key);
    if (it != formatters.constEnd()) return it->get();
    UErrorCode err = U_ZERO_ERROR;
    auto fmt = std::make_shared<icu::SimpleDateFormat>(pattern, icu::Locale(locale), err);
    if (U_FAILURE(err)) fmt.reset();
    if (fmt) {
        fmt->setTimeZone(*icu::TimeZone::getGMT());
        // Proleptic Gregorian like the calendar, so old years agree too.
        if (auto* gc = dynamic_cast<icu::GregorianCalendar*>(const_cast<icu::Calendar*>(fmt->getCalendar())))
            gc->setGregorianChange(std::numeric_limits<double>::lowest(), err);
    }
    if (formatters.size() > 64) formatters.clear();
    formatters.insert(key, fmt);
    return fmt.get();
}

QString format(const QDateTime& date, const icu::UnicodeString& pattern, const char* locale, const Calendar& calendar) {
    if (!date.isValid()) return {};
    // The calendar's wall clock, formatted as if it were UTC: right for every zone the calendar
    // knows, also one built from a POSIX rule that ICU has no name for.
    const Calendar::Components c = calendar.components(date);
    const QDateTime wall(QDate(c.year, c.month, c.day), QTime(c.hour, c.minute, c.second), QTimeZone::utc());
    if (!wall.isValid()) return {};
    const icu::SimpleDateFormat* fmt = formatter(pattern, locale);
    if (!fmt) return {};
    icu::UnicodeString out;
    fmt->format(UDate(wall.toMSecsSinceEpoch()), out);
    return qstr(out);
}

} // namespace

QString withPattern(const QDateTime& date, const QString& pattern, const char* locale, const Calendar& calendar) {
    return format(date, ustr(pattern), locale, calendar);
}

QString withSkeleton(const QDateTime& date, const QString& skeleton, const char* locale, const Calendar& calendar) {
    if (!date.isValid()) return {};
    // Generators are costly to build; keep one per locale and thread.
    thread_local QHash<QByteArray, std::shared_ptr<icu::DateTimePatternGenerator>> generators;
    auto& gen = generators[QByteArray(locale)];
    UErrorCode err = U_ZERO_ERROR;
    if (!gen) {
        gen.reset(icu::DateTimePatternGenerator::createInstance(icu::Locale(locale), err));
        if (U_FAILURE(err)) {
            gen.reset();
            return {};
        }
    }
    const icu::UnicodeString pattern = gen->getBestPattern(ustr(skeleton), err);
    if (U_FAILURE(err)) return {};
    return format(date, pattern, locale, calendar);
}

} // namespace lomex::datetext
