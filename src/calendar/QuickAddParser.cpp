// The quick-add steps: each takes the first hit of its pattern on the folded line, reads what it
// needs and blanks the stretch, so later ones and the title no longer see it. Their order, as
// parse() at the end lists it, is part of the behaviour.
#include "calendar/QuickAddParser.h"
#include "calendar/Calendar.h"
#include "calendar/CzechCalendar.h"
#include "calendar/QuickAddWords.h"
#include "platform/TextFold.h"

#include <QRegularExpression>
#include <cmath>

namespace lomex {

using namespace quickadd;
using Kind = QuickAddResult::Kind;
using Match = QuickAddParser::Match;

QString QuickAddResult::rawValue(Kind kind) { return kind == Kind::event ? QStringLiteral("event") : QStringLiteral("reminder"); }

std::optional<Kind> QuickAddResult::kindFromRaw(const QString& raw) {
    if (raw == u"event") return Kind::event;
    if (raw == u"reminder") return Kind::reminder;
    return std::nullopt;
}

namespace {

// Farthest a count may reach, in days, whatever its unit: about ten years. Anything farther is
// no plausible plan and would only feed long loops or overflow.
constexpr qint64 kMaxDays = 10LL * 366;
constexpr qint64 kMaxMinutes = kMaxDays * 24 * 60; // also the longest duration

// The moment a count led to, or an invalid one when it lies past the bound.
QDateTime withinReach(const QDateTime& moment, const QDateTime& today, const Calendar& cal) {
    return moment.isValid() && cal.daysBetween(today, moment) <= kMaxDays ? moment : QDateTime();
}

// Decimal digits of any script; nullopt when s is not all digits or is absurdly long.
std::optional<qint64> digitsValue(const QString& s) {
    if (s.isEmpty()) return std::nullopt;
    qint64 v = 0;
    for (char32_t c : s.toUcs4()) {
        const int d = QChar::digitValue(c);
        if (d < 0) return std::nullopt;
        v = v * 10 + d;
        if (v > 1'000'000'000'000LL) return std::nullopt;
    }
    return v;
}

// A count: digits, else a number word, else 1. nullopt when digits are too large to use.
std::optional<qint64> readCount(const std::optional<QString>& text) {
    if (!text) return 1;
    bool allDigits = true;
    for (char32_t c : text->toUcs4()) allDigits = allDigits && QChar::digitValue(c) >= 0;
    if (allDigits && !text->isEmpty()) return digitsValue(*text);
    auto it = numberWords().constFind(*text);
    return it != numberWords().constEnd() ? qint64(*it) : 1;
}

int number(const std::optional<QString>& text) {
    if (!text) return 0;
    return int(digitsValue(*text).value_or(0));
}

// An hour typed with a leading zero ("07:30") is 24-hour notation and never read as afternoon.
bool zeroPadded(const std::optional<QString>& digits) {
    return digits && digits->size() == 2 && QChar::digitValue(digits->at(0).unicode()) == 0;
}

int adjust(int h, const std::optional<QString>& meridiem, const std::optional<QString>& partOfDay, bool padded) {
    if (meridiem == u"pm") return h < 12 ? h + 12 : h;
    if (meridiem == u"am") return h == 12 ? 0 : h;
    const QString pod = partOfDay.value_or(QString());
    if (pod == u"odpoledne" || pod == u"afternoon" || pod == u"vecer" || pod == u"evening") return h < 12 ? h + 12 : h;
    if (pod == u"rano" || pod == u"dopoledne" || pod == u"morning") return h;
    if (pod == u"v noci" || pod == u"night") {
        // Night hours: 6-11 are late evening, 12 is midnight, 0-5 are after midnight.
        if (h == 12) return 0;
        return (h >= 6 && h < 12) ? h + 12 : h;
    }
    return (h >= 1 && h <= 7 && !padded) ? h + 12 : h;
}

int defaultHour(const QString& pod) {
    if (pod == u"rano" || pod == u"morning") return 8;
    if (pod == u"dopoledne") return 10;
    if (pod == u"poledne" || pod == u"v poledne" || pod == u"o poledne" || pod == u"noon") return 12;
    if (pod == u"odpoledne" || pod == u"afternoon") return 15;
    if (pod == u"vecer" || pod == u"evening") return 19;
    if (pod == u"v noci" || pod == u"night") return 22;
    if (pod == u"o pulnoci" || pod == u"midnight") return 0;
    return 9;
}

// The start of the given day; nullopt for a day that does not exist in its month (31.2.).
std::optional<QDateTime> makeDate(int day, int month, std::optional<int> year, const QDateTime& now, const Calendar& cal) {
    if (day < 1 || day > 31 || month < 1 || month > 12) return std::nullopt;
    if (year) return cal.date(*year, month, day);
    if (!Calendar::isValidDate(2000, month, day)) return std::nullopt; // in no year, not even a leap one
    // Without a year: the next time the day comes, today included. For 29 February that is the
    // next year that has one, at most eight years on (2096 to 2104).
    const QDateTime today = cal.startOfDay(now);
    const int thisYear = cal.year(now);
    for (int y = thisYear; y <= thisYear + 8; ++y) {
        auto date = cal.date(y, month, day);
        if (date && *date >= today) return date;
    }
    return std::nullopt;
}

QDateTime nextWeekday(int weekday, const QDateTime& now, const Calendar& cal, bool forceNextWeek) {
    const QDateTime today = cal.startOfDay(now);
    int d = (weekday - cal.weekday(today) + 7) % 7;
    if (d == 0) d = 7;
    QDateTime result = cal.startOfDay(cal.addingDays(d, today));
    if (forceNextWeek && cal.isSameIsoWeek(result, today)) result = cal.startOfDay(cal.addingDays(7, result));
    return result;
}

// The words of a folded text as lists of whole characters, split at every character that is
// not a letter (one whose first code point is not).
std::vector<QStringList> letterWords(const QString& folded) {
    std::vector<QStringList> words;
    QStringList current;
    for (const QString& c : textfold::splitCharacters(folded)) {
        const char32_t lead = c.size() > 1 && c[0].isHighSurrogate() ? QChar::surrogateToUcs4(c[0], c[1]) : c[0].unicode();
        if (QChar::isLetter(lead)) {
            current << c;
        } else if (!current.isEmpty()) {
            words.push_back(std::move(current));
            current.clear();
        }
    }
    if (!current.isEmpty()) words.push_back(std::move(current));
    return words;
}

// A day-and-month hit that is a clock time instead: hour and minute joined by the full stop
// alone, the minute two digits from 14 to 59. No month is that large; 13 stays a slip in a date.
bool isDottedTime(const Match& m) {
    const auto hour = m.range(1), minute = m.range(2);
    if (!hour || !minute || m.range(3) || minute->end - minute->start != 2 || minute->start != hour->end + 1)
        return false; // a year makes it a date ("18.30.2027")
    const int h = number(m.group(1)), min = number(m.group(2));
    return h <= 23 && min >= 14 && min <= 59;
}

// An hour and minute as typed; padded for an hour with a leading zero.
struct ClockTime {
    int hour = 0;
    int minute = 0;
    bool padded = false;
};

// One parse: the line being read, the moment it is read at and what the steps found so far.
struct Parse {
    Parse(const QString& line, const QDateTime& moment, const Calendar& calendar)
        : text(line), now(moment), today(calendar.startOfDay(moment)), cal(calendar) {}

    // The first hit of re, blanked whole.
    std::optional<Match> take(const QRegularExpression& re) {
        std::optional<Match> m = text.match(re);
        if (m) text.consume(m->whole());
        return m;
    }

    QuickAddParser::Text text;
    const QDateTime now;
    const QDateTime today;
    const Calendar& cal;
    const Patterns& pattern = patterns();

    QuickAddResult result; // the prefixes, marks and list go straight in; the rest at the end
    std::optional<qint64> duration; // minutes, when given
    std::optional<ClockTime> time;  // the start's hour and minute, of a range or alone
    std::optional<ClockTime> rangeEnd; // as typed; a clock hour once the start is built
    std::optional<QString> meridiem;
    std::optional<QString> partOfDay;
    std::optional<QDateTime> date;
    std::optional<QDateTime> relativeStart; // "in 20 minutes": the start itself
    bool nextWeekNamed = false;
    std::vector<int> dottedStops; // characters of hidden closing full stops of dotted clock times
};

std::optional<int> optionalNumber(const std::optional<QString>& text) {
    return text ? std::optional<int>(number(text)) : std::nullopt;
}

ClockTime clockTime(const Match& m, int hourGroup, int minuteGroup) {
    return {number(m.group(hourGroup)), number(m.group(minuteGroup)), zeroPadded(m.group(hourGroup))};
}

// --- Kind, marks and list --------------------------------------------------------------------

void readReminderPrefix(Parse& s) {
    if (!s.take(s.pattern.reminderPrefix)) return;
    s.result.kind = Kind::reminder;
    s.result.explicitKind = true;
}

// Also after a reminder prefix, and then it wins.
void readEventPrefix(Parse& s) {
    if (!s.take(s.pattern.eventPrefix)) return;
    s.result.kind = Kind::event;
    s.result.explicitKind = true;
}

// Only the marks go, the blank before them keeps words apart.
void readPriority(Parse& s) {
    const auto m = s.text.match(s.pattern.priority);
    if (!m) return;
    s.result.priority = m->group(2)->size() == 1 ? 5 : 1;
    s.text.consume(*m->range(2));
}

// The list name as the user typed it.
void readList(Parse& s) {
    const auto m = s.text.match(s.pattern.list);
    if (!m) return;
    s.result.listName = s.text.original(*m->range(1));
    s.text.consume(m->whole());
}

// --- Duration and time range ---------------------------------------------------------------

// The minutes of a duration hit; nullopt when its number cannot be read or is out of reach.
std::optional<qint64> durationMinutes(const Match& m) {
    const QString amount = *m.group(1);
    if (amount.startsWith(u"pul") || amount.startsWith(u"half")) return 30;
    if (amount == u"hodinu" || amount == u"an hour") return 60;
    const QString count = m.group(2).value_or(QString());
    bool ok = false;
    double value = QString(count).replace(u',', u'.').toDouble(&ok);
    if (!ok) {
        auto it = numberWords().constFind(count);
        if (it == numberWords().constEnd()) return std::nullopt;
        value = *it;
    }
    if (!std::isfinite(value)) return std::nullopt;
    const double total = m.group(3)->startsWith(u'm') ? std::trunc(value) : std::trunc(value * 60);
    if (!(total >= 0 && total <= double(kMaxMinutes))) return std::nullopt;
    return qint64(total);
}

// A duration whose number cannot be read stays in the line.
void readDuration(Parse& s) {
    const auto m = s.text.match(s.pattern.duration);
    if (!m) return;
    s.duration = durationMinutes(*m);
    if (s.duration) s.text.consume(m->whole());
}

// The range's start is the start's hour and minute.
void readTimeRange(Parse& s) {
    for (const QRegularExpression& range : s.pattern.ranges) {
        if (const auto m = s.take(range)) {
            s.time = clockTime(*m, 1, 2);
            s.rangeEnd = clockTime(*m, 3, 4);
            return;
        }
    }
}

// --- Dates by number and month name --------------------------------------------------------

// The first day-and-month hit that is no dotted clock time. Czech clock notation with a closing
// full stop ("18.30.") is left for the time steps with its stop hidden until they have run: a
// stop goes with its time only when a time step reads the digits before it. A date may follow.
std::optional<Match> skipDottedTimes(Parse& s, const QRegularExpression& dotted) {
    std::optional<Match> m = s.text.match(dotted);
    while (m && isDottedTime(*m)) {
        const int end = m->whole().end;
        s.text.mask({end - 1, end});
        s.dottedStops.push_back(s.text.characterIndex(end - 1));
        m = s.text.match(dotted, end);
    }
    return m;
}

// Shaped like a date but no real one ("31.2.", "5.13."): it stays in the title and is not read
// as a clock time either, unless a time word stands before it ("v 10.30.").
void hideImpossibleDate(Parse& s, QuickAddParser::Range whole) {
    if (!s.pattern.timeWordBefore.match(s.text.folded().left(whole.start)).hasMatch()) s.text.mask(whole);
}

void readNumericDate(Parse& s) {
    for (const QRegularExpression& numeric : s.pattern.numericDates) {
        const auto m = &numeric == &s.pattern.numericDates[0] ? skipDottedTimes(s, numeric) : s.text.match(numeric);
        if (!m) continue;
        s.date = makeDate(number(m->group(1)), number(m->group(2)), optionalNumber(m->group(3)), s.now, s.cal);
        if (s.date) s.text.consume(m->whole());
        else hideImpossibleDate(s, m->whole());
        return;
    }
}

// Only when no numeric date was read.
void readMonthNameDate(Parse& s) {
    if (s.date) return;
    int day = 0, month = 0;
    auto m = s.text.match(s.pattern.dayMonthName);
    if (m) {
        day = number(m->group(1));
        month = monthNumber(*m->group(2)).value_or(0);
    } else if ((m = s.text.match(s.pattern.monthNameDay))) {
        month = monthNumber(*m->group(1)).value_or(0);
        day = number(m->group(2));
    }
    if (!m) return;
    s.date = makeDate(day, month, optionalNumber(m->group(3)), s.now, s.cal);
    if (s.date) s.text.consume(m->whole());
}

// --- Relative dates ------------------------------------------------------------------------

// Replaces any date read before.
void readWorkingDays(Parse& s) {
    const auto m = s.text.match(s.pattern.workdays);
    if (!m) return;
    const auto n = readCount(m->group(1));
    // More working days than the bound has days can only lie past it.
    if (!n || *n > kMaxDays) return;
    const QDateTime day = withinReach(CzechCalendar::adding(int(*n), s.now, s.cal), s.today, s.cal);
    if (!day.isValid()) return;
    s.date = day;
    s.text.consume(m->whole());
}

// Minutes and hours give the start itself; days, weeks and months the day.
void readRelativeAmount(Parse& s) {
    const auto m = s.text.match(s.pattern.relative);
    if (!m) return;
    const auto n = readCount(m->group(1));
    if (!n || *n > kMaxMinutes) return; // no unit is shorter than a minute
    const QString unit = *m->group(2);
    const bool minutes = unit.startsWith(u"min");
    const bool hours = unit.startsWith(u"hod") || unit.startsWith(u"hour");
    QDateTime moment;
    if (minutes) moment = s.cal.addingMinutes(*n, s.now);
    else if (hours) moment = s.cal.addingHours(*n, s.now);
    else if (unit.startsWith(u'd')) moment = s.cal.addingDays(*n, s.today);
    else if (unit.startsWith(u't') || unit.startsWith(u'w')) moment = s.cal.addingDays(7 * *n, s.today);
    else moment = s.cal.addingMonths(*n, s.today);
    moment = withinReach(moment, s.today, s.cal);
    if (!moment.isValid()) return;
    if (minutes || hours) s.relativeStart = moment;
    else s.date = moment;
    s.text.consume(m->whole());
}

// --- Day words and weekdays ----------------------------------------------------------------

// The evening of today; a part of day named later does not change it.
void readTonight(Parse& s) {
    if (!s.take(s.pattern.tonight)) return;
    s.date = s.today;
    s.partOfDay = QStringLiteral("vecer");
}

void readToday(Parse& s) {
    if (s.take(s.pattern.today)) s.date = s.today;
}

// Before tomorrow, which it contains in English.
void readDayAfterTomorrow(Parse& s) {
    if (s.take(s.pattern.dayAfterTomorrow)) s.date = s.cal.startOfDay(s.cal.addingDays(2, s.today));
}

void readTomorrow(Parse& s) {
    if (s.take(s.pattern.tomorrow)) s.date = s.cal.startOfDay(s.cal.addingDays(1, s.today));
}

// The Monday of the following week.
void readNextWeek(Parse& s) {
    if (!s.take(s.pattern.nextWeek)) return;
    s.date = nextWeekday(2, s.now, s.cal, true);
    s.nextWeekNamed = true;
}

// Today when it is Saturday or Sunday, else the coming Saturday.
void readWeekend(Parse& s) {
    if (!s.take(s.pattern.weekend)) return;
    const int wd = s.cal.weekday(s.today);
    s.date = (wd == 7 || wd == 1) ? s.today : nextWeekday(7, s.now, s.cal, false);
}

// "pristi" and "next" mean the following week; "tento", "this", "v" and "on" change nothing.
void readWeekday(Parse& s) {
    const auto m = s.take(s.pattern.weekday);
    if (!m) return;
    const int wd = weekdayNumber(*m->group(2)).value_or(2);
    const QString prefix = m->group(1).value_or(QString());
    // "next week on friday": the week was named apart from the day, the day still belongs to it.
    const bool force = prefix.startsWith(u"pristi") || prefix == u"next" || s.nextWeekNamed;
    s.date = nextWeekday(wd, s.now, s.cal, force);
}

// --- Time and part of day ------------------------------------------------------------------

// Only when no range gave the start: the first of the four forms that matches.
void readSingleTime(Parse& s) {
    if (s.rangeEnd) return;
    for (int i = 0; i < 4; ++i) {
        const auto m = s.take(s.pattern.times[i]);
        if (!m) continue;
        s.time = ClockTime{number(m->group(1)), i == 0 ? number(m->group(2)) : 0, zeroPadded(m->group(1))};
        if (i == 0) s.meridiem = m->group(3);
        else if (i == 1) s.meridiem = m->group(2);
        return;
    }
}

// A hidden full stop goes with its dotted clock time when a time step read the digits before it.
void releaseDottedStops(Parse& s) {
    for (int stop : s.dottedStops)
        if (stop > 0 && s.text.isConsumed(stop - 1)) s.text.consumeCharacter(stop);
}

// Consumed in any case; the evening of "tonight" stays.
void readPartOfDay(Parse& s) {
    const auto m = s.take(s.pattern.partOfDay);
    if (!m || s.partOfDay) return;
    QString pod = *m->group(1);
    pod.remove(QStringLiteral("in the "));
    s.partOfDay = pod;
}

// --- Start, end, title and kind -------------------------------------------------------------

// Settles the range's end hour against the start hour h (both as clock hours) and returns h,
// which a turned-around range may take back to the hour as typed.
int settleRangeEnd(Parse& s, int h) {
    const ClockTime typed = *s.time;
    ClockTime& end = *s.rangeEnd;
    const int endTyped = end.hour;
    int e = adjust(endTyped, s.meridiem, s.partOfDay, end.padded);
    // A zero-padded end is a 24-hour time like a zero-padded start: no afternoon +12.
    if (e < h && e + 12 <= 23 && !end.padded) e += 12;
    // Still not after the start although a smaller hour was typed: an overnight range
    // ("od 22 do 2", "22-10", "od 15 do 3"), which ends at the hour as typed on the next day,
    // not at an afternoon hour or a full day later.
    if (e <= h && endTyped < typed.hour) {
        e = endTyped;
    } else if (e <= h && endTyped > typed.hour && !s.partOfDay) {
        // A rising range that the afternoon reading of a small start hour turned around
        // ("7-12" as 19:00 to noon the next day): both hours as typed.
        h = typed.hour;
        e = endTyped;
    }
    end.hour = e;
    return h;
}

// The start's clock hour (24 allowed) and minute: the time read, adjusted, or the part of day's
// own hour when there is no usable time; nullopt for neither.
std::optional<ClockTime> startClock(Parse& s) {
    if (!s.time || s.time->hour > 24 || s.time->minute > 59) {
        // An unreadable minute must not spoil the part of day's hour.
        if (s.partOfDay) return ClockTime{defaultHour(*s.partOfDay), 0};
        return std::nullopt;
    }
    int h = adjust(s.time->hour, s.meridiem, s.partOfDay, s.time->padded);
    if (s.rangeEnd) h = settleRangeEnd(s, h);
    return ClockTime{h, s.time->minute};
}

void buildStart(Parse& s) {
    QuickAddResult& r = s.result;
    if (s.relativeStart) {
        r.start = s.relativeStart;
        r.hasTime = true;
        return;
    }
    const std::optional<ClockTime> clock = startClock(s);
    if (!clock) {
        r.start = s.date;
        return;
    }
    QDateTime base = s.date.value_or(s.today);
    int hour = clock->hour;
    if (hour == 24) { // the midnight that ends the day
        base = s.cal.addingDays(1, base);
        hour = 0;
    }
    r.start = s.cal.settingTime(base, hour, clock->minute);
    r.hasTime = r.start.has_value();
    // A time without a date that has passed today means tomorrow.
    if (r.start && !s.date && *r.start <= s.now)
        r.start = s.cal.settingTime(s.cal.addingDays(1, base), hour, clock->minute);
    if (!r.start) {
        r.start = s.date;
        r.hasTime = false;
    }
}

// Only for a start with a clock time: the duration on from it, or the range's end hour.
void buildEnd(Parse& s) {
    QuickAddResult& r = s.result;
    if (!r.start || !r.hasTime) return;
    std::optional<QDateTime> end;
    if (!s.rangeEnd) {
        end = s.cal.addingMinutes(s.duration.value_or(60), *r.start);
    } else if (s.rangeEnd->hour <= 24 && s.rangeEnd->minute <= 59) {
        const int e = s.rangeEnd->hour % 24;
        end = s.cal.settingTime(*r.start, e, s.rangeEnd->minute);
        if (end && *end <= *r.start)
            end = s.cal.settingTime(s.cal.addingDays(1, s.cal.startOfDay(*r.start)), e, s.rangeEnd->minute);
    }
    if (end && !end->isValid()) end.reset();
    r.end = end;
}

// A first word that asks for something to be done: a task verb, or what looks like a Czech
// infinitive (four characters or more ending in "t") and is no noun.
bool startsWithTask(const std::vector<QStringList>& words, bool hasNoun) {
    // Length in user-perceived characters, not UTF-16 units or code points.
    const QStringList firstChars = words.empty() ? QStringList() : words.front();
    const QString first = firstChars.join(QString());
    return taskVerbs().contains(first) ||
           (firstChars.size() >= 4 && firstChars.last() == u"t" && !notInfinitives().contains(first) && !hasNoun);
}

Kind guessKind(const Parse& s, const QString& title) {
    const std::vector<QStringList> words = letterWords(textfold::fold(title));
    bool hasNoun = false;
    for (const QStringList& w : words) hasNoun = hasNoun || eventNouns().contains(w.join(QString()));
    const bool spansTime = s.rangeEnd || s.duration; // a range or a duration makes an event
    if (s.relativeStart) return hasNoun ? Kind::event : Kind::reminder;
    if (hasNoun && s.result.start) return Kind::event;
    if (!s.result.hasTime) return spansTime ? Kind::event : Kind::reminder;
    return startsWithTask(words, hasNoun) && !spansTime ? Kind::reminder : Kind::event;
}

// The kind is guessed from the title as left, before an empty one falls back to the line.
void finishTitleAndKind(Parse& s, const QString& line) {
    QuickAddResult& r = s.result;
    r.title = s.text.remainingTitle();
    if (!r.explicitKind) r.kind = guessKind(s, r.title);
    if (r.kind == Kind::reminder) r.end.reset();
    if (r.title.isEmpty()) r.title = line.trimmed();
}

} // namespace

QuickAddResult QuickAddParser::parse(const QString& line, const QDateTime& now, const Calendar& cal) {
    Parse s(line, now, cal);
    readReminderPrefix(s);
    readEventPrefix(s);
    readPriority(s);
    readList(s);
    readDuration(s);
    readTimeRange(s);
    readNumericDate(s);
    readMonthNameDate(s);
    readWorkingDays(s);
    readRelativeAmount(s);
    readTonight(s);
    readToday(s);
    readDayAfterTomorrow(s);
    readTomorrow(s);
    readNextWeek(s);
    readWeekend(s);
    readWeekday(s);
    readSingleTime(s);
    releaseDottedStops(s);
    readPartOfDay(s);
    buildStart(s);
    buildEnd(s);
    finishTitleAndKind(s, line);
    return s.result;
}

} // namespace lomex
