#include "calendar/DateText.h"

#include <QHash>
#include <memory>
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

QString format(const QDateTime& date, const icu::UnicodeString& pattern, const char* locale, const QByteArray& zone) {
    if (!date.isValid()) return {};
    UErrorCode err = U_ZERO_ERROR;
    icu::SimpleDateFormat fmt(pattern, icu::Locale(locale), err);
    if (U_FAILURE(err)) return {};
    fmt.adoptTimeZone(icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(zone.toStdString())));
    icu::UnicodeString out;
    fmt.format(UDate(date.toMSecsSinceEpoch()), out);
    return qstr(out);
}

} // namespace

QString withPattern(const QDateTime& date, const QString& pattern, const char* locale, const QByteArray& timeZoneId) {
    return format(date, ustr(pattern), locale, timeZoneId);
}

QString withSkeleton(const QDateTime& date, const QString& skeleton, const char* locale, const QByteArray& timeZoneId) {
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
    return format(date, pattern, locale, timeZoneId);
}

} // namespace lomex::datetext
