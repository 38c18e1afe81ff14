#include "calendar/QuickAddWords.h"

namespace lomex::quickadd {
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
QString joined(const Named (&table)[N]) {
    QStringList names;
    for (const Named& n : table) names << QString::fromLatin1(n.name);
    return names.join(u'|');
}

template <size_t N>
std::optional<int> valueOf(const Named (&table)[N], const QString& name) {
    for (const Named& n : table)
        if (name == QLatin1String(n.name)) return n.value;
    return std::nullopt;
}

} // namespace

QString monthAlternatives() { return joined(kMonths); }
std::optional<int> monthNumber(const QString& name) { return valueOf(kMonths, name); }
QString weekdayAlternatives() { return joined(kWeekdays); }
std::optional<int> weekdayNumber(const QString& name) { return valueOf(kWeekdays, name); }

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

const Patterns& patterns() {
    thread_local const Patterns p;
    return p;
}

} // namespace lomex::quickadd
