#pragma once
#include "calendar/QuickAddResult.h"
#include <QDateTime>
#include <QString>

namespace lomex {

class Calendar;
class L10n;

// The one-line preview of a parsed quick-add line ("Event · tomorrow 9:00 AM–10:00 AM · @Work · !").
// Never shows the title; the caller shows it.
class QuickAddPreview {
public:
    // Judged against the user's calendar and the current moment, in the resolved language.
    static QString describe(const QuickAddResult& result, const L10n& l);
    static QString describe(const QuickAddResult& result, const L10n& l, const QDateTime& now, const Calendar& calendar);

    // The symbol drawn in front of the preview: "calendar" for an event, "checkmark.circle" for a reminder.
    static QString kindSymbol(QuickAddResult::Kind kind);
};

} // namespace lomex
