#include "tabs/QuickAddPreview.h"
#include "calendar/Calendar.h"
#include "calendar/DateText.h"
#include "core/L10n.h"

#include <QStringList>

namespace lomex {

QString QuickAddPreview::describe(const QuickAddResult& result, const L10n& l) {
    return describe(result, l, QDateTime::currentDateTime(), Calendar::current());
}

QString QuickAddPreview::describe(const QuickAddResult& r, const L10n& l, const QDateTime& now, const Calendar& calendar) {
    const char* locale = l.resolved() == AppLanguage::cs ? "cs_CZ" : "en_US";
    QStringList pieces;
    pieces << l.t(r.kind == QuickAddResult::Kind::event ? QStringLiteral("quick.event") : QStringLiteral("quick.reminder"));
    if (r.start) {
        QString piece;
        if (calendar.isSameDay(*r.start, now)) piece = l.t(QStringLiteral("quick.today"));
        else if (calendar.isSameDay(*r.start, calendar.addingDays(1, now))) piece = l.t(QStringLiteral("quick.tomorrow"));
        else piece = datetext::withSkeleton(*r.start, QStringLiteral("EEEdMMM"), locale, calendar);
        if (r.hasTime) {
            piece += u' ' + datetext::withSkeleton(*r.start, QStringLiteral("jm"), locale, calendar);
            if (r.end) piece += QChar(0x2013) + datetext::withSkeleton(*r.end, QStringLiteral("jm"), locale, calendar);
        }
        pieces << piece;
    }
    if (r.listName) pieces << u'@' + *r.listName;
    if (r.priority > 0) pieces << QStringLiteral("!");
    return pieces.join(QStringLiteral(" \u00B7 "));
}

QString QuickAddPreview::kindSymbol(QuickAddResult::Kind kind) {
    return kind == QuickAddResult::Kind::event ? QStringLiteral("calendar") : QStringLiteral("checkmark.circle");
}

} // namespace lomex
