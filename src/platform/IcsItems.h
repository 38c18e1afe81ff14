#pragma once
#include "platform/CalendarStore.h"

#include <QByteArray>
#include <QDate>
#include <QHash>
#include <QList>
#include <QString>
#include <QTime>
#include <algorithm>
#include <functional>
#include <memory>
#include <optional>

// Reading iCalendar items (libical underneath) into plain values and expanding recurrences.
// A parsed file is immutable; its zones may keep lazily built tables, so one parsed file is used
// by one thread at a time (the scan that made it, then the GUI thread).
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

// DURATION: nominal days (weeks count as 7) and exact seconds.
struct Duration {
    qint64 days = 0;
    qint64 seconds = 0;
};

struct EventPart {
    QString uid;
    QString title;
    std::optional<QString> url, location, notes;
    Time start;
    std::optional<Time> end;
    std::optional<Duration> duration;
    std::optional<Time> recurrenceId;
};

// All components of one UID in a file: the master with its rules and the overridden instances.
struct Series {
    std::optional<EventPart> master;
    std::optional<QByteArray> rule; // the RRULE text
    QList<Time> rdates;
    // The length in seconds of each RDATE given as a period; none where it is a plain date-time,
    // which lasts as long as the master.
    QList<std::optional<qint64>> rdateLengths;
    QList<Time> exdates;
    QList<EventPart> overrides;
    // Not shown: reading it would have spent more rule steps than its scan had left.
    bool skipped = false;

    // The rule's instances (wall times) over a stretch of time, kept between queries: stepping a
    // rule is the costly part of a refresh, and the agenda asks about the same days every 30 s.
    struct Expansion {
        qint64 from = 0, to = -1; // wall seconds covered
        QList<qint64> walls;
        // A counted rule steps from its start; when its steps ran out before this wall time,
        // any later stretch is out of reach too and is not stepped again.
        std::optional<qint64> outOfReachFrom;
    };
    mutable Expansion expansion;
};

struct TaskPart {
    QString uid;
    QString title;
    std::optional<Time> due;
    int priority = 0;
    bool completed = false;
    bool recurring = false;
};

struct ParsedFile {
    QList<Series> series;
    QList<TaskPart> tasks;
};

// Occurrences of one recurring series never exceed this per query, and a rule is stepped at
// most maxRuleSteps times: a rule that fires every second must not stall the agenda.
constexpr int maxOccurrences = 1000;
constexpr int maxRuleSteps = 20000;
// How far past a query an expansion reaches, so the following days' queries reuse it.
constexpr qint64 expansionAheadSeconds = 35 * 86400;

// Rule steps a whole scan may spend expanding what it read; a series that would need more than
// what is left is cut short (cut set) and left for the caller to skip.
struct StepBudget {
    qint64 left = 0;
    // Once no more than this is left, a series may spend at most cheapSteps: costly series one
    // after another must not leave nothing for the ordinary ones read after them.
    qint64 reserve = 0;
    qint64 cheapSteps = 0;
    qint64 spent = 0;
    bool cut = false;

    qint64 limit() const { return left <= reserve ? std::min(left, cheapSteps) : left; }
};

// Reads one .ics file. nullopt (with error set) when it is not an iCalendar object.
std::optional<ParsedFile> parse(const QByteArray& text, ZoneCache& zones, QString* error = nullptr);

// The occurrences of a series that overlap [from, to).
QList<CalendarEvent> occurrences(const Series& series, const QString& calendarId, const QDateTime& from,
                                 const QDateTime& to, StepBudget* budget = nullptr);

// The next due time of a recurring task after its current one, as written in the file.
std::optional<Time> nextDue(const QByteArray& rule, const Time& due);

// Wall time (as if it were UTC) to UTC in a zone. A wall time a daylight-saving change skips
// takes the offset before the change; a repeated one is its first occurrence.
qint64 wallToUtc(const Zone& zone, qint64 wallSeconds);
qint64 wallSeconds(const QDate& date, const QTime& time);
// The local zone (TZ honoured), for floating times. It remembers offsets until the next
// forgetLocalOffsets() on the same thread; queries call that first.
const Zone& localZone();
void forgetLocalOffsets();

} // namespace lomex::ics
