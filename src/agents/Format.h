#pragma once
#include <QString>

namespace lomex::Format {

// Seconds as a short text: "59s", "2m 5s", "1h 5m". Rounded to whole seconds (halves away
// from zero); negative and non-finite values read as 0s.
QString duration(double seconds);

} // namespace lomex::Format
