#pragma once
#include "platform/RunningApps.h"

namespace lomex {

// A fixed list for tests.
class FakeRunningApps : public RunningApps {
public:
    QList<RunningApplication> apps;
    std::optional<RunningApplication> frontmost;

    QList<RunningApplication> running() const override { return apps; }
    std::optional<RunningApplication> active() const override { return frontmost; }
};

} // namespace lomex
