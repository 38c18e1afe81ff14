#pragma once
#include "platform/PasteKeys.h"

namespace lomex {

// Records pastes for tests.
class FakePasteKeys : public PasteKeys {
public:
    bool isTrusted = true;
    int pastes = 0;
    bool trusted() const override { return isTrusted; }
    bool sendPaste() override {
        if (!isTrusted) return false;
        ++pastes;
        return true;
    }
};

} // namespace lomex
