#pragma once

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QHash>
#include <QTime>
#include <functional>
#include <memory>

// Times as iCalendar items write them, and the zones that turn their wall times into instants.
namespace lomex::ics {

// A time zone as the items need it: the UTC offset in effect at an instant.
class Zone {
public:
    virtual ~Zone() = default;
    virtual int offsetAt(qint64 utcSeconds) const = 0; // seconds east of UTC
};

// Zones met while reading files: IANA and Windows names resolve through Qt, names only a
// file's own VTIMEZONE explains resolve through that VTIMEZONE. Not shared between threads.
class ZoneCache {
public:
    std::shared_ptr<const Zone> named(const QByteArray& tzid);
    // A zone a file's own VTIMEZONE defines, made (or refused, null) once per distinct text:
    // every file of a calendar program carries the same few definitions.
    std::shared_ptr<const Zone> defined(const QByteArray& text, const std::function<std::shared_ptr<const Zone>()>& make);
private:
    QHash<QByteArray, std::shared_ptr<const Zone>> zones_;
    QHash<QByteArray, std::shared_ptr<const Zone>> defined_;
};

// A DATE or DATE-TIME value as written: a day, a floating wall time, UTC, or a wall time in a zone.
struct Time {
    enum class Kind { date, floating, utc, zoned };
    Kind kind = Kind::date;
    QDate date;
    QTime time;
    std::shared_ptr<const Zone> zone;
    qint64 utcSeconds = 0; // utc and zoned only

    bool isDate() const { return kind == Kind::date; }
    // The instant; a day is its start in the local zone, a floating time its wall time there.
    QDateTime instant() const;
    qint64 seconds() const;
};

// An instant as a UTC QDateTime held inline: before Qt 6.5 one made with a QTimeZone is kept on
// the heap with a zone of its own, which makes copying, comparing and freeing thousands of
// occurrences cost the GUI thread whole frames.
QDateTime utcInstant(qint64 seconds);

// Wall time (as if it were UTC) to UTC in a zone. A wall time a daylight-saving change skips
// takes the offset before the change; a repeated one is its first occurrence.
qint64 wallToUtc(const Zone& zone, qint64 wallSeconds);
qint64 wallSeconds(const QDate& date, const QTime& time);
// The local zone (TZ honoured), for floating times. It remembers offsets until the next
// forgetLocalOffsets() on the same thread; queries call that first.
const Zone& localZone();
void forgetLocalOffsets();

// ---- for the readers of items ----

constexpr qint64 kUnixEpochJulianDay = 2440588;
constexpr qint64 kDay = 86400;

inline qint64 floorDiv(qint64 a, qint64 b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// The day and time of a wall time; the inverse of wallSeconds.
void splitWall(qint64 wall, QDate& date, QTime& time);

// Zones change their offset only at whole quarter hours, so offsets are remembered per quarter
// hour: an agenda asks the same few days over and over. One thread uses a zone at a time.
class CachedZone : public Zone {
public:
    int offsetAt(qint64 utc) const final {
        const qint64 quarter = floorDiv(utc, 900);
        auto it = cache_.constFind(quarter);
        if (it != cache_.constEnd()) return it.value();
        if (cache_.size() > 100000) cache_.clear();
        const int offset = lookUp(quarter * 900);
        cache_.insert(quarter, offset);
        return offset;
    }
protected:
    virtual int lookUp(qint64 utc) const = 0;
private:
    mutable QHash<qint64, int> cache_;
};

} // namespace lomex::ics
