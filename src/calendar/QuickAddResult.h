#pragma once
#include <QDateTime>
#include <QString>
#include <optional>

namespace lomex {

// One parsed quick-add line.
struct QuickAddResult {
    enum class Kind { event, reminder };

    QString title;
    Kind kind = Kind::reminder;
    std::optional<QDateTime> start; // event start or reminder due date
    std::optional<QDateTime> end;   // events only
    bool hasTime = false;           // start carries a clock time, not only a day
    int priority = 0;               // 0 none, 5 one "!", 1 two or three
    std::optional<QString> listName;
    bool explicitKind = false;      // kind came from a prefix word

    bool operator==(const QuickAddResult& other) const = default;

    static QString rawValue(Kind kind);                    // "event", "reminder"
    static std::optional<Kind> kindFromRaw(const QString& raw);
};

} // namespace lomex
