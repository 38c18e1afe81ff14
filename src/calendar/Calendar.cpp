#include "calendar/Calendar.h"

#include <unicode/gregocal.h>
#include <unicode/locid.h>
#include <unicode/simpletz.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <cmath>
#include <limits>

namespace lomex {

struct Calendar::Impl {
    std::unique_ptr<icu::GregorianCalendar> proto;
    QTimeZone zone;
    QByteArray zoneId;

    std::unique_ptr<icu::Calendar> work() const { return std::unique_ptr<icu::Calendar>(proto->clone()); }
    // A private calendar set to the instant ms.
    std::unique_ptr<icu::Calendar> workAt(UDate ms, UErrorCode& status) const {
        auto c = work();
        c->setTime(ms, status);
        return c;
    }
};

namespace {

constexpr qint64 kMsPerDay = 86'400'000;

bool isKnownToIcu(const icu::TimeZone& tz)
{
    icu::UnicodeString id;
    tz.getID(id);
    return id != icu::UnicodeString(u"Etc/Unknown");
}

std::shared_ptr<const Calendar::Impl> makeImpl(std::unique_ptr<icu::TimeZone> tz)
{
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeString uid;
    tz->getID(uid);
    std::string id;
    uid.toUTF8String(id);

    // Root locale, then ISO week rules set explicitly: week fields are always ISO 8601.
    auto cal = std::make_unique<icu::GregorianCalendar>(tz.release(), icu::Locale::getRoot(), status);
    if (U_FAILURE(status))
        return nullptr;
    // Proleptic Gregorian, like QDate, so both agree on every day number.
    cal->setGregorianChange(std::numeric_limits<double>::lowest(), status);
    cal->setFirstDayOfWeek(UCAL_MONDAY);
    cal->setMinimalDaysInFirstWeek(4);
    cal->setLenient(true); // fields are range-checked before they reach ICU
    cal->setSkippedWallTimeOption(UCAL_WALLTIME_NEXT_VALID);
    cal->setRepeatedWallTimeOption(UCAL_WALLTIME_FIRST);
    cal->setTime(0, status);
    cal->get(UCAL_YEAR, status); // leaves the prototype fully computed, so clones only read it

    auto impl = std::make_shared<Calendar::Impl>();
    impl->proto = std::move(cal);
    impl->zoneId = QByteArray::fromStdString(id);
    impl->zone = QTimeZone(impl->zoneId);
    if (!impl->zone.isValid())
        impl->zone = QTimeZone::systemTimeZone();
    // A TZ value neither Qt nor ICU can name (ICU then takes it at the C library's fixed
    // offset): results need some valid zone to carry, or every date formed here is invalid.
    if (!impl->zone.isValid())
        impl->zone = QTimeZone(impl->proto->getTimeZone().getRawOffset() / 1000);
    return impl;
}

// ICU only takes IANA names, while TZ may hold a POSIX rule ("CET-1CEST,M3.5.0,M10.5.0/3") that
// Qt understands. Rebuild such a zone as an ICU rule from this year's transitions as Qt sees them.
std::unique_ptr<icu::TimeZone> icuZoneFromQt(const QTimeZone& zone)
{
    if (!zone.isValid())
        return nullptr;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const icu::UnicodeString id = icu::UnicodeString::fromUTF8(zone.id().toStdString());
    const int32_t raw = zone.standardTimeOffset(now) * 1000;
    const QDateTime yearStart(QDate(now.date().year(), 1, 1), QTime(0, 0), QTimeZone::utc());
    const QTimeZone::OffsetData first = zone.nextTransition(yearStart);
    const QTimeZone::OffsetData second = first.atUtc.isValid() ? zone.nextTransition(first.atUtc) : QTimeZone::OffsetData{};
    if (!zone.hasDaylightTime() || !second.atUtc.isValid() || second.atUtc.date().year() != now.date().year())
        return std::make_unique<icu::SimpleTimeZone>(raw, id);

    const QTimeZone::OffsetData& start = first.daylightTimeOffset > 0 ? first : second;
    const QTimeZone::OffsetData& end = first.daylightTimeOffset > 0 ? second : first;
    struct Rule { int8_t month, weekInMonth, weekday; int32_t ms; };
    auto rule = [](const QDateTime& utc) {
        const QDate d = utc.date();
        const int8_t week = d.day() + 7 > d.daysInMonth() ? -1 : int8_t((d.day() - 1) / 7 + 1);
        return Rule{int8_t(d.month() - 1), week, int8_t(d.dayOfWeek() % 7 + 1), utc.time().msecsSinceStartOfDay()};
    };
    const Rule s = rule(start.atUtc), e = rule(end.atUtc);
    UErrorCode status = U_ZERO_ERROR;
    auto tz = std::make_unique<icu::SimpleTimeZone>(raw, id, s.month, s.weekInMonth, s.weekday, s.ms,
        icu::SimpleTimeZone::UTC_TIME, e.month, e.weekInMonth, e.weekday, e.ms, icu::SimpleTimeZone::UTC_TIME,
        start.daylightTimeOffset * 1000, status);
    if (U_FAILURE(status))
        return std::make_unique<icu::SimpleTimeZone>(raw, id);
    return tz;
}

std::shared_ptr<const Calendar::Impl> systemImpl()
{
    // Qt and ICU both read TZ; take Qt's answer (ICU ignores POSIX rules in TZ) and let ICU
    // detect the host zone only when Qt has none.
    const QTimeZone system = QTimeZone::systemTimeZone();
    const QByteArray qtId = system.id();
    std::unique_ptr<icu::TimeZone> tz(icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(qtId.toStdString())));
    if (!tz || !isKnownToIcu(*tz))
        tz = icuZoneFromQt(system);
    if (!tz || !isKnownToIcu(*tz))
        tz.reset(icu::TimeZone::detectHostTimeZone());
    if (!tz || !isKnownToIcu(*tz))
        tz.reset(icu::TimeZone::getGMT()->clone());
    if (auto impl = makeImpl(std::move(tz)))
        return impl;
    std::unique_ptr<icu::TimeZone> gmt(icu::TimeZone::getGMT()->clone());
    return makeImpl(std::move(gmt));
}

bool toMs(const QDateTime& date, UDate& out)
{
    if (!date.isValid())
        return false;
    out = UDate(date.toMSecsSinceEpoch());
    return true;
}

} // namespace

Calendar::Calendar(std::shared_ptr<const Impl> impl)
    : d_(std::move(impl))
{
}

Calendar::Calendar()
    : Calendar(current())
{
}

Calendar Calendar::current()
{
    return Calendar(systemImpl());
}

std::optional<Calendar> Calendar::withTimeZone(const QByteArray& ianaId)
{
    std::unique_ptr<icu::TimeZone> tz(icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(ianaId.toStdString())));
    if (!tz || !isKnownToIcu(*tz))
        return std::nullopt;
    auto impl = makeImpl(std::move(tz));
    if (!impl)
        return std::nullopt;
    return Calendar(std::move(impl));
}

QTimeZone Calendar::timeZone() const { return d_->zone; }
QByteArray Calendar::timeZoneId() const { return d_->zoneId; }

Calendar::Components Calendar::components(const QDateTime& date) const
{
    UDate ms;
    if (!toMs(date, ms))
        return {};
    UErrorCode status = U_ZERO_ERROR;
    auto c = d_->workAt(ms, status);
    Components r;
    r.year = c->get(UCAL_EXTENDED_YEAR, status);
    r.month = c->get(UCAL_MONTH, status) + 1;
    r.day = c->get(UCAL_DATE, status);
    r.hour = c->get(UCAL_HOUR_OF_DAY, status);
    r.minute = c->get(UCAL_MINUTE, status);
    r.second = c->get(UCAL_SECOND, status);
    r.weekday = c->get(UCAL_DAY_OF_WEEK, status);
    return U_SUCCESS(status) ? r : Components{};
}

QDate Calendar::localDate(const QDateTime& date) const
{
    const Components c = components(date);
    if (c.month == 0)
        return {};
    return QDate(c.year, c.month, c.day);
}

Calendar::IsoWeek Calendar::isoWeek(const QDateTime& date) const
{
    UDate ms;
    if (!toMs(date, ms))
        return {};
    UErrorCode status = U_ZERO_ERROR;
    auto c = d_->workAt(ms, status);
    IsoWeek w;
    w.week = c->get(UCAL_WEEK_OF_YEAR, status);
    w.year = c->get(UCAL_YEAR_WOY, status);
    return U_SUCCESS(status) ? w : IsoWeek{};
}

bool Calendar::isSameDay(const QDateTime& a, const QDateTime& b) const
{
    const QDate da = localDate(a);
    return da.isValid() && da == localDate(b);
}

bool Calendar::isSameIsoWeek(const QDateTime& a, const QDateTime& b) const
{
    const IsoWeek wa = isoWeek(a);
    return wa.week != 0 && wa == isoWeek(b);
}

qint64 Calendar::daysBetween(const QDateTime& a, const QDateTime& b) const
{
    const QDate da = localDate(a), db = localDate(b);
    if (!da.isValid() || !db.isValid())
        return 0;
    return da.daysTo(db);
}

bool Calendar::isValidDate(int year, int month, int day)
{
    return year >= minYear && year <= maxYear && QDate::isValid(year, month, day);
}

int Calendar::daysInMonth(int year, int month)
{
    if (year < minYear || year > maxYear || month < 1 || month > 12)
        return 0;
    return QDate(year, month, 1).daysInMonth();
}

std::optional<QDateTime> Calendar::date(int year, int month, int day, int hour, int minute, int second) const
{
    if (!isValidDate(year, month, day) || hour < 0 || hour > 23 || minute < 0 || minute > 59
        || second < 0 || second > 59)
        return std::nullopt;
    auto c = d_->work();
    c->clear();
    c->set(UCAL_EXTENDED_YEAR, year);
    c->set(UCAL_MONTH, month - 1);
    c->set(UCAL_DATE, day);
    c->set(UCAL_HOUR_OF_DAY, hour);
    c->set(UCAL_MINUTE, minute);
    c->set(UCAL_SECOND, second);
    c->set(UCAL_MILLISECOND, 0);
    UErrorCode status = U_ZERO_ERROR;
    const UDate ms = c->getTime(status);
    if (U_FAILURE(status) || !std::isfinite(ms))
        return std::nullopt;
    return QDateTime::fromMSecsSinceEpoch(qint64(ms), d_->zone);
}

QDateTime Calendar::startOfDay(const QDateTime& date) const
{
    return startOfDay(localDate(date));
}

QDateTime Calendar::startOfDay(const QDate& day) const
{
    if (!day.isValid())
        return {};
    return this->date(day.year(), day.month(), day.day()).value_or(QDateTime());
}

std::optional<QDateTime> Calendar::settingTime(const QDateTime& day, int hour, int minute, int second) const
{
    const QDate d = localDate(day);
    if (!d.isValid())
        return std::nullopt;
    return date(d.year(), d.month(), d.day(), hour, minute, second);
}

QDateTime Calendar::adding(Unit unit, qint64 value, const QDateTime& date) const
{
    UDate ms;
    if (!toMs(date, ms))
        return {};
    // Years minYear..maxYear span about 3.7 million days; anything larger cannot land in range.
    constexpr qint64 kMaxSpanDays = 3'700'000;
    qint64 resultMs = 0;
    if (unit == Unit::Second || unit == Unit::Minute || unit == Unit::Hour) {
        const qint64 perUnit = unit == Unit::Second ? 1000 : unit == Unit::Minute ? 60'000 : 3'600'000;
        if (value > kMaxSpanDays * (kMsPerDay / perUnit) || value < -kMaxSpanDays * (kMsPerDay / perUnit))
            return {};
        resultMs = qint64(ms) + value * perUnit;
    } else {
        if (value > kMaxSpanDays || value < -kMaxSpanDays)
            return {};
        UCalendarDateFields f = UCAL_DATE;
        switch (unit) {
        case Unit::Week: f = UCAL_WEEK_OF_YEAR; break;
        case Unit::Month: f = UCAL_MONTH; break;
        case Unit::Year: f = UCAL_YEAR; break;
        default: f = UCAL_DATE; break;
        }
        UErrorCode status = U_ZERO_ERROR;
        auto c = d_->workAt(ms, status);
        c->add(f, int32_t(value), status);
        const UDate r = c->getTime(status);
        if (U_FAILURE(status) || !std::isfinite(r))
            return {};
        resultMs = qint64(r);
    }
    QDateTime result = QDateTime::fromMSecsSinceEpoch(resultMs, d_->zone);
    const int y = year(result);
    if (y < minYear || y > maxYear)
        return {};
    return result;
}

} // namespace lomex
