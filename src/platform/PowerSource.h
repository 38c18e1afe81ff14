#pragma once
#include <QObject>
#include <optional>

namespace lomex {

// The machine's battery as the desktop reports it: UPower's display device over the system
// D-Bus. Emits changed() on every change of level or charging state; no battery, no reading.
class PowerSource : public QObject {
    Q_OBJECT
public:
    struct Reading {
        int percent = 0;      // 0..100
        bool charging = false; // on external power and charging (or full)
        bool operator==(const Reading&) const = default;
    };

    using QObject::QObject;
    virtual std::optional<Reading> read() const = 0;
    // Starts watching; returns false when there is nothing to watch.
    virtual bool start() = 0;

Q_SIGNALS:
    void changed();
};

class UPowerSource : public PowerSource {
    Q_OBJECT
public:
    using PowerSource::PowerSource;
    std::optional<Reading> read() const override;
    bool start() override;

private Q_SLOTS:
    void propertiesChanged();
};

} // namespace lomex
