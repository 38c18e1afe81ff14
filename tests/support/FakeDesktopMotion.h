#pragma once
#include "platform/DesktopMotion.h"

namespace lomex {

// For tests: says what it is told.
class FakeDesktopMotion : public DesktopMotion {
    Q_OBJECT
public:
    using DesktopMotion::DesktopMotion;
    std::optional<bool> reducedMotion() const override { return reduced; }
    void set(std::optional<bool> value) {
        reduced = value;
        Q_EMIT changed();
    }
    std::optional<bool> reduced;
};

} // namespace lomex
