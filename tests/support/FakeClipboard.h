#pragma once
#include "platform/Clipboard.h"
#include <atomic>

namespace lomex {

// An in-memory clipboard for tests.
class FakeClipboard : public Clipboard {
public:
    ClipboardContent content;
    quint64 changes = 0;
    int writes = 0;
    mutable std::atomic<int> reads{0};

    quint64 changeCount() const override { return changes; }
    ClipboardContent read(const ClipboardLimits& limits) const override {
        ++reads;
        return clipboard::withinLimits(content, limits);
    }
    void write(const ClipboardContent& c) override {
        content = c;
        ++changes;
        ++writes;
    }
    // Another program copying.
    void copy(const ClipboardContent& c) {
        content = c;
        ++changes;
    }
};

} // namespace lomex
