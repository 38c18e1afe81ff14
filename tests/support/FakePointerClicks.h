#pragma once
#include "platform/PointerClicks.h"

namespace lomex {

class FakePointerClicks : public PointerClicks {
    Q_OBJECT
public:
    using PointerClicks::PointerClicks;
    bool start() override { return watching_ = true; }
    bool isWatching() const override { return watching_; }
    void press(QPoint global) { Q_EMIT pressed(global); }

private:
    bool watching_ = false;
};

} // namespace lomex
