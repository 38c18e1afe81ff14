#pragma once
#include "calendar/QuickAddResult.h"
#include <QDateTime>
#include <QRegularExpression>
#include <QRegularExpressionMatch>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace lomex {

class Calendar;

// Turns one Czech or English quick-add line into an event or a reminder. Stateless.
class QuickAddParser {
public:
    static QuickAddResult parse(const QString& text, const QDateTime& now, const Calendar& calendar);

    // A stretch of the folded text, in UTF-16 units.
    struct Range {
        int start = 0;
        int end = 0;
    };

    // One regular-expression hit on a Text's folded copy.
    class Match {
    public:
        Match(QRegularExpressionMatch result, QString folded)
            : result_(std::move(result)), folded_(std::move(folded)) {}
        // nullopt for a group that took no part; "" for an empty group that did.
        std::optional<QString> group(int i) const;
        std::optional<Range> range(int i) const;
        Range whole() const { return *range(0); }
        const QString& folded() const { return folded_; }

    private:
        QRegularExpressionMatch result_;
        QString folded_;
    };

    // The line being parsed in two aligned copies: the user's characters and their folded
    // forms. Recognisers match on the folded copy, blank what they understood in both, and
    // read the user's own spelling back by position. Public for the tests only.
    class Text {
    public:
        explicit Text(const QString& input);
        std::optional<Match> match(const QString& pattern) const; // nullopt also for a bad pattern
        // The first hit at or after a UTF-16 offset of the folded copy.
        std::optional<Match> match(const QRegularExpression& re, int from = 0) const;
        void consume(Range range);
        // Hides a stretch from later matches while its characters stay for the title.
        void mask(Range range);
        QString original(Range range) const;
        QString remainingTitle() const;
        // By character, for a step that decides later what becomes of a character it hid.
        int characterIndex(int offset) const { return floorIndex(offset); }
        bool isConsumed(int index) const { return index >= 0 && index < count() && characters_[index] == u" "; }
        void consumeCharacter(int index);

        const QString& folded() const { return folded_; }
        int count() const { return int(characters_.size()); }
        const QStringList& characters() const { return characters_; }

    private:
        int floorIndex(int offset) const;
        int ceilIndex(int offset) const;
        void rebuild();

        QStringList characters_;
        QStringList foldedCharacters_;
        QString folded_;
        std::vector<int> starts_; // UTF-16 start of each folded character, plus the end
    };
};

} // namespace lomex
