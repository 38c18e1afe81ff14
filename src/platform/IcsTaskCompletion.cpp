#include "platform/IcsTaskCompletion.h"
#include "platform/IcsRecurrence.h"

#include <QRegularExpression>
#include <QTimeZone>

namespace lomex::ics {

namespace {

// A logical line of the file: its physical lines, unfolded only to read them.
struct Line {
    int first = 0, last = 0; // physical line range
    QByteArray unfolded;
    QByteArray name() const {
        int end = 0;
        while (end < unfolded.size() && unfolded[end] != ':' && unfolded[end] != ';') ++end;
        return unfolded.left(end).trimmed().toUpper();
    }
    QByteArray value() const {
        // The value follows the first colon outside a quoted parameter.
        bool quoted = false;
        for (int i = 0; i < unfolded.size(); ++i) {
            if (unfolded[i] == '"') quoted = !quoted;
            else if (unfolded[i] == ':' && !quoted) return unfolded.mid(i + 1);
        }
        return {};
    }
};

QList<QByteArray> physicalLines(const QByteArray& data) {
    QList<QByteArray> lines = data.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    for (QByteArray& l : lines)
        if (l.endsWith('\r')) l.chop(1);
    return lines;
}

QList<Line> logicalLines(const QList<QByteArray>& physical) {
    QList<Line> out;
    for (int i = 0; i < physical.size(); ++i) {
        const QByteArray& p = physical[i];
        if ((p.startsWith(' ') || p.startsWith('\t')) && !out.isEmpty()) {
            out.last().unfolded += p.mid(1);
            out.last().last = i;
        } else {
            out.append(Line{i, i, p});
        }
    }
    return out;
}

QByteArray formatWall(const Time& t) {
    if (t.isDate()) return t.date.toString(QStringLiteral("yyyyMMdd")).toLatin1();
    QDate d = t.date;
    QTime tm = t.time;
    if (t.kind == Time::Kind::utc) {
        const QDateTime u = QDateTime::fromSecsSinceEpoch(t.utcSeconds, QTimeZone::utc());
        d = u.date();
        tm = u.time();
    }
    QByteArray out = (d.toString(QStringLiteral("yyyyMMdd")) + u'T' + tm.toString(QStringLiteral("HHmmss"))).toLatin1();
    if (t.kind == Time::Kind::utc) out += 'Z';
    return out;
}

// The value of a DATE or DATE-TIME line moved by a number of wall seconds.
std::optional<QByteArray> shiftedValue(const QByteArray& value, qint64 seconds) {
    const QByteArray v = value.trimmed();
    const bool utc = v.endsWith('Z');
    const QByteArray core = utc ? v.chopped(1) : v;
    QDate d = QDate::fromString(QString::fromLatin1(core.left(8)), QStringLiteral("yyyyMMdd"));
    if (!d.isValid()) return std::nullopt;
    if (core.size() == 8) return d.addDays(seconds / 86400).toString(QStringLiteral("yyyyMMdd")).toLatin1();
    QTime t = QTime::fromString(QString::fromLatin1(core.mid(9, 6)), QStringLiteral("HHmmss"));
    if (!t.isValid()) return std::nullopt;
    QDateTime w(d, t, QTimeZone::utc());
    w = w.addSecs(seconds);
    QByteArray out = w.toString(QStringLiteral("yyyyMMdd'T'HHmmss")).toLatin1();
    if (utc) out += 'Z';
    return out;
}

QByteArray replaceValue(const Line& line, const QByteArray& value) {
    const QByteArray old = line.value();
    return line.unfolded.left(line.unfolded.size() - old.size()) + value;
}

// Logical line indexes of a VTODO's BEGIN and END.
struct TodoSpan {
    int begin = -1, end = -1;
};

// The task's own VTODO (not an overridden instance), directly inside VCALENDAR.
std::optional<TodoSpan> ownTodo(const QList<Line>& lines, const QString& uid) {
    int begin = -1, end = -1, depth = 0, candidate = -1;
    bool matches = false, instance = false;
    for (int i = 0; i < lines.size() && end < 0; ++i) {
        const QByteArray name = lines[i].name();
        const QByteArray value = lines[i].value().trimmed().toUpper();
        if (name == "BEGIN") {
            ++depth;
            if (depth == 2 && value == "VTODO") {
                candidate = i;
                matches = instance = false;
            }
        } else if (name == "END") {
            if (depth == 2 && candidate >= 0 && value == "VTODO") {
                if (matches && !instance) {
                    begin = candidate;
                    end = i;
                }
                candidate = -1;
            }
            --depth;
        } else if (depth == 2 && candidate >= 0) {
            if (name == "UID") matches = QString::fromUtf8(lines[i].value()).trimmed() == uid;
            if (name == "RECURRENCE-ID") instance = true;
        }
    }
    if (begin < 0) return std::nullopt;
    return TodoSpan{begin, end};
}

// Where completing moves a task: nowhere (no next), or on to the next due of its rule.
struct TaskAdvance {
    std::optional<Time> next;
    std::optional<Time> due; // the due being left behind
    int left = -1;                // the rule's COUNT, or -1 without one
    qsizetype countAt = -1, countLength = 0;
};

// A recurring task moves on to its next occurrence; only its last one is completed. The
// series is moved along with it, so a COUNT counts what is left.
TaskAdvance advanceOf(const QList<Line>& lines, const TodoSpan& span, const QList<TaskPart>& tasks,
                      const QString& uid) {
    const TaskPart* part = nullptr;
    for (const TaskPart& t : tasks)
        if (t.uid == uid) part = &t;

    QByteArray rule;
    for (int i = span.begin; i < span.end; ++i)
        if (lines[i].name() == "RRULE") rule = lines[i].value();
    static const QRegularExpression countPart(QStringLiteral("(^|;)COUNT=(\\d+)"), QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch count = countPart.match(QString::fromLatin1(rule));

    TaskAdvance a;
    a.left = count.hasMatch() ? count.captured(2).toInt() : -1;
    a.countAt = count.capturedStart(2);
    a.countLength = count.capturedLength(2);
    if (part) a.due = part->due;
    if (part && part->due && !rule.isEmpty() && a.left != 0 && a.left != 1) a.next = nextDue(rule, *part->due);
    return a;
}

// Lines of the task's own VTODO that completing drops; they are written anew.
bool dropsOwnLine(const QByteArray& name, const TaskAdvance& a) {
    if (name == "LAST-MODIFIED") return true;
    return !a.next && (name == "STATUS" || name == "COMPLETED" || name == "PERCENT-COMPLETE");
}

// The new text of one of the task's own lines when it moves on, or nothing to keep it as it is.
std::optional<QByteArray> movedOwnLine(const Line& l, const QByteArray& name, const TaskAdvance& a) {
    if (!a.next) return std::nullopt;
    if (name == "DUE") return replaceValue(l, formatWall(*a.next));
    if (name == "RRULE" && a.left > 1) {
        QString r = QString::fromLatin1(l.value());
        r.replace(a.countAt, a.countLength, QString::number(a.left - 1));
        return replaceValue(l, r.toLatin1());
    }
    if (name == "DTSTART") {
        const qint64 delta = wallSeconds(a.next->date, a.next->time) - wallSeconds(a.due->date, a.due->time);
        if (auto shifted = shiftedValue(l.value(), delta)) return replaceValue(l, *shifted);
    }
    return std::nullopt;
}

// The file's physical lines with the task completed or moved on; everything else as it was.
QList<QByteArray> completedLines(const QList<QByteArray>& physical, const QList<Line>& lines, const TodoSpan& span,
                                 const TaskAdvance& a, const QByteArray& stamp) {
    QList<QByteArray> out;
    auto copy = [&](const Line& l) {
        for (int p = l.first; p <= l.last; ++p) out << physical[p];
    };
    int nested = 0;
    for (int i = 0; i < lines.size(); ++i) {
        const Line& l = lines[i];
        if (i <= span.begin || i > span.end) {
            copy(l);
            continue;
        }
        const QByteArray name = l.name();
        if (name == "BEGIN") ++nested;
        if (i == span.end) {
            if (!a.next) out << "STATUS:COMPLETED" << "COMPLETED:" + stamp << "PERCENT-COMPLETE:100";
            out << "LAST-MODIFIED:" + stamp;
            copy(l);
            continue;
        }
        const bool own = nested == 0;
        if (name == "END") --nested;
        if (own && dropsOwnLine(name, a)) continue;
        if (own) {
            if (auto moved = movedOwnLine(l, name, a)) {
                out << *moved;
                continue;
            }
        }
        copy(l);
    }
    return out;
}

} // namespace

std::optional<QByteArray> completedTaskText(const QByteArray& data, const QList<TaskPart>& tasks, const QString& uid,
                                            const QDateTime& now) {
    const QList<QByteArray> physical = physicalLines(data);
    const QList<Line> lines = logicalLines(physical);
    const std::optional<TodoSpan> span = ownTodo(lines, uid);
    if (!span) return std::nullopt;
    const TaskAdvance advance = advanceOf(lines, *span, tasks, uid);

    const QByteArray eol = data.contains("\r\n") ? QByteArrayLiteral("\r\n") : QByteArrayLiteral("\n");
    const QByteArray stamp = QDateTime::fromSecsSinceEpoch(now.toSecsSinceEpoch(), QTimeZone::utc())
                                 .toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'")).toLatin1();
    return completedLines(physical, lines, *span, advance, stamp).join(eol) + eol;
}

} // namespace lomex::ics
