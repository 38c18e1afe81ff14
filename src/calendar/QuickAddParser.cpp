// The quick-add recognisers: each takes the first hit of its pattern on the folded line, reads
// what it needs and blanks the stretch, so later ones and the title no longer see it. Their
// order is part of the behaviour.
#include "calendar/QuickAddParser.h"
#include "platform/TextFold.h"
#include "calendar/Calendar.h"
#include "calendar/CzechCalendar.h"

#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <cmath>

namespace lomex {

using Kind = QuickAddResult::Kind;

QString QuickAddResult::rawValue(Kind kind) { return kind == Kind::event ? QStringLiteral("event") : QStringLiteral("reminder"); }

std::optional<Kind> QuickAddResult::kindFromRaw(const QString& raw) {
    if (raw == u"event") return Kind::event;
    if (raw == u"reminder") return Kind::reminder;
    return std::nullopt;
}

namespace {

struct Named {
    const char* name;
    int value;
};

// Czech genitives as used after a day number; "cervence" must come before "cervna".
constexpr Named kMonths[] = {
    {"ledna", 1}, {"unora", 2}, {"brezna", 3}, {"dubna", 4}, {"kvetna", 5}, {"cervence", 7},
    {"cervna", 6}, {"srpna", 8}, {"zari", 9}, {"rijna", 10}, {"listopadu", 11}, {"prosince", 12},
    {"january", 1}, {"february", 2}, {"march", 3}, {"april", 4}, {"may", 5}, {"june", 6},
    {"july", 7}, {"august", 8}, {"september", 9}, {"october", 10}, {"november", 11}, {"december", 12},
    {"jan", 1}, {"feb", 2}, {"mar", 3}, {"apr", 4}, {"jun", 6}, {"jul", 7},
    {"aug", 8}, {"sep", 9}, {"sept", 9}, {"oct", 10}, {"nov", 11}, {"dec", 12},
};

// 1 = Sunday ... 7 = Saturday.
constexpr Named kWeekdays[] = {
    {"pondeli", 2}, {"utery", 3}, {"streda", 4}, {"stredu", 4}, {"ctvrtek", 5}, {"patek", 6},
    {"sobota", 7}, {"sobotu", 7}, {"nedele", 1}, {"nedeli", 1}, {"monday", 2}, {"tuesday", 3},
    {"wednesday", 4}, {"thursday", 5}, {"friday", 6}, {"saturday", 7}, {"sunday", 1}, {"mon", 2},
    {"tue", 3}, {"wed", 4}, {"thu", 5}, {"fri", 6}, {"sat", 7}, {"sun", 1},
};

template <size_t N>
QString alternatives(const Named (&table)[N]) {
    QStringList names;
    for (const Named& n : table) names << QString::fromLatin1(n.name);
    return names.join(u'|');
}

template <size_t N>
std::optional<int> lookup(const Named (&table)[N], const QString& name) {
    for (const Named& n : table)
        if (name == QLatin1String(n.name)) return n.value;
    return std::nullopt;
}

const QHash<QString, int>& numberWords() {
    static const QHash<QString, int> words = {
        {"jeden", 1}, {"jednu", 1}, {"jedna", 1}, {"dva", 2}, {"dve", 2}, {"tri", 3}, {"ctyri", 4}, {"pet", 5},
        {"sest", 6}, {"a", 1}, {"an", 1}, {"one", 1}, {"two", 2}, {"three", 3}, {"four", 4}, {"five", 5},
    };
    return words;
}

const QSet<QString>& eventNouns() {
    static const QSet<QString> words = {
        "schuzka", "schuzku", "meeting", "sraz", "porada", "obed", "vecere", "snidane", "zubar", "zubare",
        "doktor", "lekar", "lekare", "koncert", "kino", "divadlo", "trenink", "hovor", "prezentace", "pohovor",
        "vylet", "let", "oslava", "narozeniny", "svatba", "konference", "webinar", "kurz", "lekce", "kadernik",
        "kadernice", "dentist", "doctor", "lunch", "dinner", "breakfast", "sync", "standup", "interview",
        "appointment", "party", "flight", "concert", "class", "workshop", "date", "coffee", "kava", "kafe",
    };
    return words;
}

const QSet<QString>& taskVerbs() {
    static const QSet<QString> words = {
        "buy", "email", "send", "pay", "pick", "get", "finish", "write", "check", "book", "order", "water", "clean", "cancel",
        "renew", "submit", "review", "fix", "read", "print", "return", "prepare", "ask", "text", "call", "phone", "ring",
    };
    return words;
}

const QSet<QString>& notInfinitives() {
    static const QSet<QString> words = {"koncert", "let", "start", "test", "sport", "vylet", "banket", "kurt"};
    return words;
}

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

// Every recogniser's pattern, compiled once per thread.
struct Patterns {
    static QRegularExpression re(const QString& p) {
        QRegularExpression r(p, QRegularExpression::UseUnicodePropertiesOption);
        r.optimize();
        return r;
    }
    const QRegularExpression reminderPrefix = re(
        R"(^\s*(pripomen(te)? mi,?( ze)?( abych)?|pripomenout|nezapomen(te|out)?( na)?|remind me( to)?|todo:?|ukol:?)\s+)");
    const QRegularExpression eventPrefix = re(R"(^\s*(udalost|event):?\s+)");
    const QRegularExpression priority = re(R"((^|\s)(!{1,3})(?=\s|$))");
    const QRegularExpression list = re(R"((?:^|\s)@(\S+))");
    const QRegularExpression duration = re(
        R"(\b(?:na|for)\s+(pul hodiny|half an hour|hodinu|an hour|(\d+(?:[.,]\d+)?|\w+)\s*(h|hod|hodin[uy]?|hours?|min|minut[uy]?|minutes?))\b)");
    const QRegularExpression ranges[3] = {
        re(R"(\b(?:(?:od|v|ve|from|at)\s+)(\d{1,2})(?:[:.](\d{2}))?\s*(?:-|–|do|az|to)\s*(\d{1,2})(?:[:.](\d{2}))?\b(?:\s*(?:h|hod|hodin)\b)?)"),
        re(R"(\b(\d{1,2})[:.](\d{2})\s*(?:-|–|do|az|to)\s*(\d{1,2})[:.](\d{2})\b)"),
        re(R"((?:^|\s)([6-9]|1\d|2[0-3])()\s*(?:-|–)\s*([7-9]|1\d|2[0-3])()\b(?!\s*\.))"),
    };
    // A year is four digits, not the front of a longer number.
    const QRegularExpression numericDates[2] = {
        re(R"(\b(\d{1,2})\.\s?(\d{1,2})\.(?:\s?(\d{4})(?!\d))?)"),
        re(R"(\b(\d{1,2})/(\d{1,2})(?:/(\d{4}))?\b)"),
    };
    const QRegularExpression timeWordBefore = re(R"((?:^|\s)(?:v|ve|at|o|kolem|around)\s+$)");
    const QRegularExpression dayMonthName = re(
        R"(\b(\d{1,2})\.?\s+()" + alternatives(kMonths) + R"()\b(?:\s+(\d{4})(?!\d))?)");
    const QRegularExpression monthNameDay = re(
        R"(\b()" + alternatives(kMonths) + R"()\s+(\d{1,2})(?:st|nd|rd|th)?\b(?:,?\s+(\d{4})(?!\d))?)");
    const QRegularExpression workdays = re(
        R"(\b(?:za|in)\s+(\d+|jeden|jednu|jedna|dva|dve|tri|ctyri|pet|sest|a|one|two|three|four|five)\s+(?:pracovni(?:ch|ho)?|prac\.?|business|working|work)\s*(?:dn[iuy]|den|days?)\b)");
    const QRegularExpression relative = re(
        R"(\b(?:za|in)\s+(?:(\d+|jeden|jednu|jedna|dva|dve|tri|ctyri|pet|sest|a|an|one|two|three|four|five)\s+)?(minut[uy]?|min|minutes?|hodin[uy]?|hod|hours?|dn[iy]|den|days?|tydn[uy]?|tyden|weeks?|mesic[eu]?|mesicu|months?)\b)");
    const QRegularExpression tonight = re(R"(\b(dnes vecer|dneska vecer|tonight)\b)");
    const QRegularExpression today = re(R"(\b(dnes|dneska|today)\b)");
    const QRegularExpression dayAfterTomorrow = re(R"(\b(pozitri|day after tomorrow)\b)");
    const QRegularExpression tomorrow = re(R"(\b(zitra|zejtra|tomorrow)\b)");
    const QRegularExpression nextWeek = re(R"(\b(pristi tyden|next week)\b)");
    const QRegularExpression weekend = re(R"(\b(o vikendu|na vikend|this weekend|on the weekend)\b)");
    const QRegularExpression weekday = re(
        R"(\b(?:(pristi|pristi tyden v|next|tento|tenhle|tuto|this|v|ve|on)\s+)?()" + alternatives(kWeekdays) + R"()\b)");
    // A one- or two-digit hour is never the front of a longer number ("v 10 lidi", "v 10. patre").
    const QRegularExpression times[4] = {
        re(R"(\b(?:(?:v|ve|at|o|kolem|around)\s+)?(\d{1,2})[:.](\d{2})\s*(am|pm)?\b)"),
        re(R"(\b(?:(?:v|ve|at|o|kolem|around)\s+)?(\d{1,2})\s*(am|pm)\b)"),
        re(R"(\b(?:v|ve|at|o|kolem|around)\s+(\d{1,2})(?!\d)(?:\s*(?:h|hod|hodin)\b)?(?!\s*(?:\.|dn|den|tyd|min|lid|kus|ks)))"),
        re(R"(\b(\d{1,2})\s*(?:h|hod|hodin)\b)"),
    };
    const QRegularExpression partOfDay = re(
        R"(\b(rano|dopoledne|(?:v |o )?poledne|odpoledne|vecer|v noci|o pulnoci|morning|afternoon|evening|night|noon|midnight|in the morning|in the evening)\b)");
};

const Patterns& patterns() {
    thread_local const Patterns p;
    return p;
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
bool isDottedTime(const QuickAddParser::Match& m) {
    const auto hour = m.range(1), minute = m.range(2);
    if (!hour || !minute || m.range(3) || minute->end - minute->start != 2 || minute->start != hour->end + 1)
        return false; // a year makes it a date ("18.30.2027")
    const int h = number(m.group(1)), min = number(m.group(2));
    return h <= 23 && min >= 14 && min <= 59;
}

} // namespace

std::optional<QuickAddParser::Match> QuickAddParser::Text::match(const QRegularExpression& re, int from) const {
    QRegularExpressionMatch m = re.match(folded_, from);
    if (!m.hasMatch()) return std::nullopt;
    return Match(std::move(m), folded_);
}

QuickAddResult QuickAddParser::parse(const QString& line, const QDateTime& now, const Calendar& cal) {
    const Patterns& P = patterns();
    Text text(line);
    const QDateTime today = cal.startOfDay(now);

    std::optional<Kind> explicitKind;
    int priority = 0;
    std::optional<QString> listName;
    qint64 duration = 60;
    bool durationGiven = false;
    std::optional<int> rangeStartHour, rangeEndHour;
    int rangeStartMinute = 0, rangeEndMinute = 0;
    std::optional<QDateTime> date, relativeStart;
    std::optional<int> hour;
    bool hourPadded = false, endPadded = false;
    int minute = 0;
    std::optional<QString> meridiem, partOfDay;
    bool tonight = false, nextWeekNamed = false;

    // Kind prefixes; an event prefix may follow a reminder prefix and wins.
    if (auto m = text.match(P.reminderPrefix)) {
        explicitKind = Kind::reminder;
        text.consume(m->whole());
    }
    if (auto m = text.match(P.eventPrefix)) {
        explicitKind = Kind::event;
        text.consume(m->whole());
    }

    // Priority: only the marks go, the blank before them keeps words apart.
    if (auto m = text.match(P.priority)) {
        const int marks = int(m->group(2)->size());
        priority = marks == 1 ? 5 : 1;
        text.consume(*m->range(2));
    }

    if (auto m = text.match(P.list)) {
        listName = text.original(*m->range(1));
        text.consume(m->whole());
    }

    if (auto m = text.match(P.duration)) {
        const QString g1 = *m->group(1);
        std::optional<qint64> minutes;
        if (g1.startsWith(u"pul") || g1.startsWith(u"half")) {
            minutes = 30;
        } else if (g1 == u"hodinu" || g1 == u"an hour") {
            minutes = 60;
        } else {
            const QString g2 = m->group(2).value_or(QString());
            bool ok = false;
            double value = QString(g2).replace(u',', u'.').toDouble(&ok);
            if (!ok) {
                auto it = numberWords().constFind(g2);
                if (it != numberWords().constEnd()) {
                    value = *it;
                    ok = true;
                }
            }
            if (ok && std::isfinite(value)) {
                const double total = m->group(3)->startsWith(u'm') ? std::trunc(value) : std::trunc(value * 60);
                if (total >= 0 && total <= double(kMaxMinutes)) minutes = qint64(total);
            }
        }
        if (minutes) {
            duration = *minutes;
            durationGiven = true;
            text.consume(m->whole());
        }
    }

    for (const QRegularExpression& re : P.ranges) {
        if (auto m = text.match(re)) {
            rangeStartHour = number(m->group(1));
            rangeStartMinute = number(m->group(2));
            rangeEndHour = number(m->group(3));
            rangeEndMinute = number(m->group(4));
            hourPadded = zeroPadded(m->group(1));
            endPadded = zeroPadded(m->group(3));
            hour = rangeStartHour;
            minute = rangeStartMinute;
            text.consume(m->whole());
            break;
        }
    }

    // Closing full stops of dotted clock times, hidden until the time steps have run: a stop
    // goes with its time only when a time step reads the digits before it.
    std::vector<int> dottedStops;
    for (const QRegularExpression& re : P.numericDates) {
        std::optional<Match> m = text.match(re);
        while (m && &re == &P.numericDates[0] && isDottedTime(*m)) {
            // Czech clock notation with a closing full stop ("18.30."): the time recognisers may
            // read it, and a date may still follow.
            const int end = m->whole().end;
            text.mask({end - 1, end});
            dottedStops.push_back(text.characterIndex(end - 1));
            m = text.match(re, end);
        }
        if (m) {
            std::optional<int> year;
            if (m->group(3)) year = number(m->group(3));
            date = makeDate(number(m->group(1)), number(m->group(2)), year, now, cal);
            if (date) {
                text.consume(m->whole());
            } else {
                // Shaped like a date but no real one ("31.2.", "5.13."): it stays in the title and
                // is not read as a clock time either, unless a time word stands before it ("v 10.30.").
                const Range whole = m->whole();
                if (!P.timeWordBefore.match(text.folded().left(whole.start)).hasMatch()) text.mask(whole);
            }
            break;
        }
    }

    if (!date) {
        auto m = text.match(P.dayMonthName);
        int day = 0, month = 0;
        std::optional<int> year;
        if (m) {
            day = number(m->group(1));
            month = lookup(kMonths, *m->group(2)).value_or(0);
            if (m->group(3)) year = number(m->group(3));
        } else if ((m = text.match(P.monthNameDay))) {
            month = lookup(kMonths, *m->group(1)).value_or(0);
            day = number(m->group(2));
            if (m->group(3)) year = number(m->group(3));
        }
        if (m) {
            date = makeDate(day, month, year, now, cal);
            if (date) text.consume(m->whole());
        }
    }

    if (auto m = text.match(P.workdays)) {
        const auto n = readCount(m->group(1));
        // More working days than the bound has days can only lie past it.
        const QDateTime day =
            n && *n <= kMaxDays ? withinReach(CzechCalendar::adding(int(*n), now, cal), today, cal) : QDateTime();
        if (day.isValid()) {
            date = day;
            text.consume(m->whole());
        }
    }

    if (auto m = text.match(P.relative)) {
        const auto n = readCount(m->group(1));
        const QString unit = *m->group(2);
        const bool minutes = unit.startsWith(u"min");
        const bool hours = unit.startsWith(u"hod") || unit.startsWith(u"hour");
        QDateTime moment; // stays invalid for an unusable count
        if (n && *n <= kMaxMinutes) { // no unit is shorter than a minute
            if (minutes) moment = cal.addingMinutes(*n, now);
            else if (hours) moment = cal.addingHours(*n, now);
            else if (unit.startsWith(u'd')) moment = cal.addingDays(*n, today);
            else if (unit.startsWith(u't') || unit.startsWith(u'w')) moment = cal.addingDays(7 * *n, today);
            else moment = cal.addingMonths(*n, today);
            moment = withinReach(moment, today, cal);
        }
        if (moment.isValid()) {
            // Minutes and hours give the start itself; days, weeks and months the day.
            if (minutes || hours) relativeStart = moment;
            else date = moment;
            text.consume(m->whole());
        }
    }

    if (auto m = text.match(P.tonight)) {
        date = today;
        partOfDay = QStringLiteral("vecer");
        tonight = true;
        text.consume(m->whole());
    }
    if (auto m = text.match(P.today)) {
        date = today;
        text.consume(m->whole());
    }
    if (auto m = text.match(P.dayAfterTomorrow)) {
        date = cal.startOfDay(cal.addingDays(2, today));
        text.consume(m->whole());
    }
    if (auto m = text.match(P.tomorrow)) {
        date = cal.startOfDay(cal.addingDays(1, today));
        text.consume(m->whole());
    }
    if (auto m = text.match(P.nextWeek)) {
        date = nextWeekday(2, now, cal, true);
        nextWeekNamed = true;
        text.consume(m->whole());
    }
    if (auto m = text.match(P.weekend)) {
        const int wd = cal.weekday(today);
        date = (wd == 7 || wd == 1) ? today : nextWeekday(7, now, cal, false);
        text.consume(m->whole());
    }
    if (auto m = text.match(P.weekday)) {
        const int wd = lookup(kWeekdays, *m->group(2)).value_or(2);
        const QString prefix = m->group(1).value_or(QString());
        // "next week on friday": the week was named apart from the day, the day still belongs to it.
        const bool force = prefix.startsWith(u"pristi") || prefix == u"next" || nextWeekNamed;
        date = nextWeekday(wd, now, cal, force);
        text.consume(m->whole());
    }

    if (!rangeStartHour) {
        for (int i = 0; i < 4; ++i) {
            auto m = text.match(P.times[i]);
            if (!m) continue;
            hour = number(m->group(1));
            hourPadded = zeroPadded(m->group(1));
            if (i == 0) {
                minute = number(m->group(2));
                meridiem = m->group(3);
            } else if (i == 1) {
                meridiem = m->group(2);
            }
            text.consume(m->whole());
            break;
        }
    }

    for (int stop : dottedStops)
        if (stop > 0 && text.isConsumed(stop - 1)) text.consumeCharacter(stop);

    if (auto m = text.match(P.partOfDay)) {
        if (!tonight) {
            QString pod = *m->group(1);
            pod.remove(QStringLiteral("in the "));
            partOfDay = pod;
        }
        text.consume(m->whole());
    }

    // The start.
    std::optional<QDateTime> start;
    bool hasTime = false;
    if (relativeStart && relativeStart->isValid()) {
        start = relativeStart;
        hasTime = true;
    } else {
        std::optional<int> h;
        if (!hour || *hour > 24 || minute > 59) {
            if (partOfDay) {
                h = defaultHour(*partOfDay);
                minute = 0; // an unreadable minute must not spoil the part of day's hour
            }
        } else {
            h = adjust(*hour, meridiem, partOfDay, hourPadded);
            if (rangeEndHour) {
                int e = adjust(*rangeEndHour, meridiem, partOfDay, endPadded);
                // A zero-padded end is a 24-hour time like a zero-padded start: no afternoon +12.
                if (e < *h && e + 12 <= 23 && !endPadded) e += 12;
                // Still not after the start although a smaller hour was typed: an overnight
                // range ("od 22 do 2", "22-10", "od 15 do 3"), which ends at the hour as typed on
                // the next day, not at an afternoon hour or a full day later.
                if (e <= *h && *rangeEndHour < *hour) {
                    e = *rangeEndHour;
                } else if (e <= *h && *rangeEndHour > *hour && !partOfDay) {
                    // A rising range that the afternoon reading of a small start hour turned
                    // around ("7-12" as 19:00 to noon the next day): both hours as typed.
                    h = *hour;
                    e = *rangeEndHour;
                }
                rangeEndHour = e;
            }
        }
        if (!h) {
            start = date;
        } else {
            QDateTime base = date.value_or(today);
            int hh = *h;
            if (hh == 24) {
                // 24:00 is the midnight that ends the day.
                base = cal.addingDays(1, base);
                hh = 0;
            }
            start = cal.settingTime(base, hh, minute);
            if (start) {
                hasTime = true;
                if (!date && *start <= now) start = cal.settingTime(cal.addingDays(1, base), hh, minute);
            }
            if (!start) {
                start = date;
                hasTime = false;
            }
        }
    }

    // The end.
    std::optional<QDateTime> end;
    if (start && hasTime) {
        if (!rangeEndHour) {
            end = cal.addingMinutes(duration, *start);
        } else if (*rangeEndHour <= 24 && rangeEndMinute <= 59) {
            const int e = *rangeEndHour % 24;
            end = cal.settingTime(*start, e, rangeEndMinute);
            if (end && *end <= *start) end = cal.settingTime(cal.addingDays(1, cal.startOfDay(*start)), e, rangeEndMinute);
        }
        if (end && !end->isValid()) end.reset();
    }

    // Title and kind.
    QString title = text.remainingTitle();
    const std::vector<QStringList> words = letterWords(textfold::fold(title));
    bool hasNoun = false;
    for (const QStringList& w : words) hasNoun = hasNoun || eventNouns().contains(w.join(QString()));
    // Length in user-perceived characters, not UTF-16 units or code points.
    const QStringList firstChars = words.empty() ? QStringList() : words.front();
    const QString first = firstChars.join(QString());
    const bool isTask = taskVerbs().contains(first) ||
                        (firstChars.size() >= 4 && firstChars.last() == u"t" && !notInfinitives().contains(first) &&
                         !hasNoun);
    Kind kind;
    if (explicitKind) kind = *explicitKind;
    else if (relativeStart) kind = hasNoun ? Kind::event : Kind::reminder;
    else if (hasNoun && start) kind = Kind::event;
    else if (!hasTime) kind = rangeEndHour ? Kind::event : (durationGiven ? Kind::event : Kind::reminder);
    else kind = (isTask && !rangeEndHour) ? (durationGiven ? Kind::event : Kind::reminder) : Kind::event;
    if (title.isEmpty()) title = line.trimmed();

    QuickAddResult r;
    r.title = title;
    r.kind = kind;
    r.start = start;
    r.end = kind == Kind::event ? end : std::nullopt;
    r.hasTime = hasTime;
    r.priority = priority;
    r.listName = listName;
    r.explicitKind = explicitKind.has_value();
    return r;
}

} // namespace lomex
