#pragma once
#include <QByteArray>
#include <optional>

namespace lomex {

// count bytes from the kernel's secure random source (getrandom(2), /dev/urandom when the
// call is missing); nothing when neither works.
std::optional<QByteArray> secureRandomBytes(int count);

} // namespace lomex
