#pragma once
#include "platform/PowerSource.h"

namespace lomex {

class FakePowerSource : public PowerSource {
    Q_OBJECT
public:
    using PowerSource::PowerSource;
    std::optional<Reading> reading;
    std::optional<Reading> read() const override { return reading; }
    bool start() override { return true; }
    void set(Reading r) {
        reading = r;
        Q_EMIT changed();
    }
};

} // namespace lomex
