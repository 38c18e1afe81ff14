#include "platform/IcsTime.h"

#include <QTimeZone>
#include <optional>
#include <unicode/ucal.h>

namespace lomex::ics {

namespace {

class QtZone : public CachedZone {
public:
    explicit QtZone(QTimeZone tz) : tz_(std::move(tz)) {}
protected:
    int lookUp(qint64 utc) const override {
        return tz_.offsetFromUtc(QDateTime::fromSecsSinceEpoch(utc, QTimeZone::utc()));
    }
private:
    QTimeZone tz_;
};

// The local zone remembers offsets only until forgetLocalOffsets(): TZ may change while the
// app runs, so each query starts afresh. One cache per thread.
// Qt's local time asks the C library, which looks at /etc/localtime on every call; the system
// zone object reads it once per query instead.
thread_local QHash<qint64, int> t_localOffsets;
thread_local std::optional<QTimeZone> t_localZone;

class LocalZone : public Zone {
public:
    int offsetAt(qint64 utc) const override {
        const qint64 quarter = floorDiv(utc, 900);
        auto it = t_localOffsets.constFind(quarter);
        if (it != t_localOffsets.constEnd()) return it.value();
        if (!t_localZone) t_localZone = QTimeZone::systemTimeZone();
        const QDateTime at = QDateTime::fromSecsSinceEpoch(quarter * 900, QTimeZone::utc());
        const int offset = t_localZone->isValid() ? t_localZone->offsetFromUtc(at)
                                                   : at.toLocalTime().offsetFromUtc();
        t_localOffsets.insert(quarter, offset);
        return offset;
    }
};

// Qt reads any unknown name as a POSIX TZ rule ("Eastern" becomes UTC), so only names the time
// zone database knows (aliases such as US/Central included) may stand for a system zone.
bool systemZoneName(const QByteArray& tzid) {
    const QString id = QString::fromUtf8(tzid);
    UChar canonical[128];
    UBool isSystem = false;
    UErrorCode err = U_ZERO_ERROR;
    ucal_getCanonicalTimeZoneID(reinterpret_cast<const UChar*>(id.utf16()), int32_t(id.size()), canonical, 128,
                                &isSystem, &err);
    return U_SUCCESS(err) && isSystem;
}

} // namespace

void splitWall(qint64 wall, QDate& date, QTime& time) {
    const qint64 days = floorDiv(wall, kDay);
    date = QDate::fromJulianDay(days + kUnixEpochJulianDay);
    time = QTime::fromMSecsSinceStartOfDay(int((wall - days * kDay) * 1000));
}

qint64 wallSeconds(const QDate& date, const QTime& time) {
    return (date.toJulianDay() - kUnixEpochJulianDay) * kDay + time.msecsSinceStartOfDay() / 1000;
}

void forgetLocalOffsets() {
    t_localOffsets.clear();
    t_localZone.reset();
}

const Zone& localZone() {
    static const LocalZone zone;
    return zone;
}

qint64 wallToUtc(const Zone& zone, qint64 wall) {
    // The offset twelve hours earlier is the one in effect before any change near this time.
    const int before = zone.offsetAt(wall - 12 * 3600);
    const qint64 first = wall - before;
    if (zone.offsetAt(first) == before) return first;
    const int after = zone.offsetAt(first);
    const qint64 second = wall - after;
    if (zone.offsetAt(second) == after) return second;
    return first; // skipped wall time
}

std::shared_ptr<const Zone> ZoneCache::defined(const QByteArray& text,
                                               const std::function<std::shared_ptr<const Zone>()>& make) {
    auto it = defined_.constFind(text);
    if (it != defined_.constEnd()) return it.value();
    auto zone = make();
    defined_.insert(text, zone);
    return zone;
}

std::shared_ptr<const Zone> ZoneCache::named(const QByteArray& tzid) {
    auto it = zones_.constFind(tzid);
    if (it != zones_.constEnd()) return it.value();
    std::shared_ptr<const Zone> zone;
    QTimeZone tz;
    if (systemZoneName(tzid)) tz = QTimeZone(tzid);
    if (!tz.isValid()) {
        const QByteArray iana = QTimeZone::windowsIdToDefaultIanaId(tzid);
        if (!iana.isEmpty()) tz = QTimeZone(iana);
    }
    if (tz.isValid()) zone = std::make_shared<QtZone>(tz);
    zones_.insert(tzid, zone);
    return zone;
}

qint64 Time::seconds() const {
    switch (kind) {
    case Kind::utc:
    case Kind::zoned: return utcSeconds;
    case Kind::floating: return wallToUtc(localZone(), wallSeconds(date, time));
    case Kind::date: return wallToUtc(localZone(), wallSeconds(date, QTime(0, 0))); // midnight, or the first moment after a skipped one
    }
    return 0;
}

QDateTime Time::instant() const { return utcInstant(seconds()); }

QDateTime utcInstant(qint64 seconds) {
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
    return QDateTime::fromSecsSinceEpoch(seconds, QTimeZone(QTimeZone::UTC));
#else
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC);
#endif
}

} // namespace lomex::ics
