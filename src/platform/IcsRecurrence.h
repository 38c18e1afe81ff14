#pragma once
#include "platform/CalendarStore.h"
#include "platform/IcsItems.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <algorithm>
#include <optional>

// The instances of what a parsed file's recurrence rules, RDATEs, EXDATEs and overrides say.
namespace lomex::ics {

// Occurrences of one recurring series never exceed this per query, and a rule is stepped at
// most maxRuleSteps times per series: a daily series of 30 years counted by COUNT takes under
// 11,000 steps, while a rule that fires every second must not stall the agenda.
constexpr int maxOccurrences = 1000;
constexpr int maxRuleSteps = 20000;
// How far past a query an expansion reaches, so the following days' queries reuse it.
constexpr qint64 expansionAheadSeconds = 35 * 86400;

// Rule steps a whole scan may spend expanding what it read. A series whose steps ran out before
// the end of the stretch asked about (its own maxRuleSteps, or what the scan had left) is cut
// short (cut set) and left for the caller to skip.
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

// The occurrences of a series that overlap [from, to).
QList<CalendarEvent> occurrences(const Series& series, const QString& calendarId, const QDateTime& from,
                                 const QDateTime& to, StepBudget* budget = nullptr);

// The next due time of a recurring task after its current one, as written in the file.
std::optional<Time> nextDue(const QByteArray& rule, const Time& due);

} // namespace lomex::ics
