#pragma once
#include "platform/IcsTime.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

// Reading iCalendar items (libical underneath) into plain values; IcsRecurrence expands them.
// A parsed file is immutable; its zones may keep lazily built tables, so one parsed file is used
// by one thread at a time (the scan that made it, then the store's reader).
namespace lomex::ics {

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
    // Not shown: its rule could not be followed to the days read within the steps allowed.
    bool skipped = false;

    // The rule's instances (wall times) over a stretch of time, kept between queries: stepping a
    // rule is the costly part of a refresh, and the agenda asks about the same days every 30 s.
    struct Expansion {
        qint64 from = 0, to = -1; // wall seconds covered
        QList<qint64> walls;
        // A counted rule steps from its start; when its steps ran out before this wall time,
        // any later stretch is out of reach too and is not stepped again.
        std::optional<qint64> outOfReachFrom;
        // A counted rule's last instance, once a walk reached it: nothing lies after it.
        std::optional<qint64> countEndsAt;
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

// Reads one .ics file. nullopt (with error set) when it is not an iCalendar object.
std::optional<ParsedFile> parse(const QByteArray& text, ZoneCache& zones, QString* error = nullptr);

} // namespace lomex::ics
