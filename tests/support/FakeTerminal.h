#pragma once
#include "platform/Terminal.h"

namespace lomex {

// Records the scripts it was asked to open (tests).
class FakeTerminal : public Terminal {
public:
    QStringList opened;
    bool succeed = true;
    bool openScript(const QString& scriptPath) override {
        opened << scriptPath;
        return succeed;
    }
};

} // namespace lomex
