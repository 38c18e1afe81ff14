#pragma once
#include <QDateTime>
#include <QStringList>

namespace lomex {

class Calendar;
struct QuickAddResult;

// "--parse TEXT": parses the text against now and prints one line: the title in double quotes,
// start, end, time flag, priority and list name ("-" for what is absent).
int parseMode(const QStringList& args);

// The line parseMode prints for a result.
QString parseModeLine(const QuickAddResult& result, const Calendar& calendar);

} // namespace lomex
