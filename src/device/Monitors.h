#pragma once
#include "device/Notice.h"
#include <QObject>
#include <functional>
#include <optional>

namespace lomex {

class BluetoothAudio;
class PowerSource;
class Settings;

// Raises the charging and low-battery notices from the power source, only while
// "batteryNotices" is on (read at each change).
class BatteryMonitor : public QObject {
    Q_OBJECT
public:
    static constexpr int lowPercent = 20;

    BatteryMonitor(PowerSource* source, Settings* settings = nullptr, QObject* parent = nullptr);
    void start();
    std::function<void(const Notice&)> onNotice;

    // One change of the power source: plugging in shows the charging notice; falling to
    // lowPercent or below on battery shows the low-battery notice once per discharge.
    void powerChanged();

private:
    PowerSource* source_;
    Settings* settings_;
    std::optional<bool> wasCharging_;
    bool warnedLow_ = false;
};

// Headphone connections and their batteries. Watches only while "headphoneNotices" is on
// (the shell starts and stops it as the setting changes) and shows a connected device's
// notice only while the setting is on. The connections come from Bluetooth (BlueZ); headsets
// that do not report a battery get the notice without one.
class HeadphoneMonitor : public QObject {
    Q_OBJECT
public:
    // Takes the source; none gives the desktop's Bluetooth.
    explicit HeadphoneMonitor(BluetoothAudio* source = nullptr, Settings* settings = nullptr, QObject* parent = nullptr);
    void start(); // watches when the setting is on
    void setWatching(bool on);
    bool isWatching() const { return watching_; }
    std::function<void(const Notice&)> onNotice;

    void deviceConnected(const QString& name, const QList<Notice::Battery>& batteries);

private:
    BluetoothAudio* source_;
    Settings* settings_;
    bool watching_ = false;
};

} // namespace lomex
