#pragma once
#include "platform/BluetoothAudio.h"

namespace lomex {

// Connections told by a test.
class FakeBluetoothAudio : public BluetoothAudio {
    Q_OBJECT
public:
    using BluetoothAudio::BluetoothAudio;
    bool watching = false;
    int starts = 0;
    bool start() override {
        ++starts;
        watching = true;
        return true;
    }
    void stop() override { watching = false; }
    bool isWatching() const override { return watching; }
    void connect(const QString& name, std::optional<int> percent) {
        if (watching) Q_EMIT connected(name, percent);
    }
};

} // namespace lomex
