#pragma once
#include <QString>

namespace lomex {

// A reported error: domain ("Lomex", "Lomex.Audio", or a system domain such as "POSIX"),
// a code within it and the text shown to the user.
struct LomexError {
    QString domain;
    int code = 0;
    QString message;

    bool operator==(const LomexError&) const = default;
};

} // namespace lomex
