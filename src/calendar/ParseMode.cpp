#include "calendar/ParseMode.h"
#include "calendar/Calendar.h"
#include "calendar/DateText.h"
#include "calendar/QuickAddParser.h"
#include "core/Clock.h"

#include <cstdio>

namespace lomex {

QString parseModeLine(const QuickAddResult& r, const Calendar& calendar) {
    auto date = [&](const std::optional<QDateTime>& d) {
        return d ? datetext::withPattern(*d, QStringLiteral("EEE d.M.yyyy HH:mm"), "cs_CZ", calendar) : QStringLiteral("-");
    };
    return QStringLiteral("\"%1\" %2 %3 %4 %5 %6")
        .arg(r.title, date(r.start), date(r.end), r.hasTime ? QStringLiteral("true") : QStringLiteral("false"),
             QString::number(r.priority), r.listName.value_or(QStringLiteral("-")));
}

int parseMode(const QStringList& args) {
    const Calendar calendar = Calendar::current();
    const QuickAddResult r = QuickAddParser::parse(args.join(u' '), Clock::current()->now(), calendar);
    const QByteArray line = parseModeLine(r, calendar).toUtf8() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fflush(stdout);
    return 0;
}

} // namespace lomex
