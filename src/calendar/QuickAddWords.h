#pragma once
// The words and patterns the quick-add parser recognises. All are folded (lower case, no
// accents); the parser matches them against the folded line.
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QString>
#include <optional>

namespace lomex::quickadd {

// Czech genitives and English names, joined with "|" in the order the patterns try them.
QString monthAlternatives();
std::optional<int> monthNumber(const QString& name);
// 1 = Sunday ... 7 = Saturday.
QString weekdayAlternatives();
std::optional<int> weekdayNumber(const QString& name);

const QHash<QString, int>& numberWords();
const QSet<QString>& eventNouns();
const QSet<QString>& taskVerbs();
// Words that end in "t" like a Czech infinitive but are none.
const QSet<QString>& notInfinitives();

// Every step's pattern, written for the folded text.
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
        R"(\b(\d{1,2})\.?\s+()" + monthAlternatives() + R"()\b(?:\s+(\d{4})(?!\d))?)");
    const QRegularExpression monthNameDay = re(
        R"(\b()" + monthAlternatives() + R"()\s+(\d{1,2})(?:st|nd|rd|th)?\b(?:,?\s+(\d{4})(?!\d))?)");
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
        R"(\b(?:(pristi|pristi tyden v|next|tento|tenhle|tuto|this|v|ve|on)\s+)?()" + weekdayAlternatives() + R"()\b)");
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

// Compiled once per thread.
const Patterns& patterns();

} // namespace lomex::quickadd
