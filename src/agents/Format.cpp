#include "agents/Format.h"
#include <algorithm>
#include <cmath>

namespace lomex::Format {

QString duration(double seconds)
{
    // Clamp before rounding so a huge or non-finite value cannot overflow the conversion.
    constexpr double maxSeconds = 1e15;
    if (!std::isfinite(seconds))
        seconds = seconds > 0 ? maxSeconds : 0;
    const qint64 s = std::max<qint64>(0, std::llround(std::clamp(seconds, -1.0, maxSeconds)));
    if (s < 60)
        return QStringLiteral("%1s").arg(s);
    if (s < 3600)
        return QStringLiteral("%1m %2s").arg(s / 60).arg(s % 60);
    return QStringLiteral("%1h %2m").arg(s / 3600).arg((s % 3600) / 60);
}

} // namespace lomex::Format
