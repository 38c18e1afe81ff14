#include "device/Monitors.h"
#include "platform/BluetoothAudio.h"
#include "core/Settings.h"
#include "platform/PowerSource.h"

namespace lomex {

BatteryMonitor::BatteryMonitor(PowerSource* source, Settings* settings, QObject* parent)
    : QObject(parent), source_(source), settings_(settings ? settings : &Settings::shared()) {}

void BatteryMonitor::start() {
    if (!source_) return;
    connect(source_, &PowerSource::changed, this, &BatteryMonitor::powerChanged);
    source_->start();
    if (auto r = source_->read()) wasCharging_ = r->charging;
}

void BatteryMonitor::powerChanged() {
    const auto r = source_ ? source_->read() : std::nullopt;
    if (!r) return;
    const bool pluggedIn = r->charging && wasCharging_.has_value() && !*wasCharging_;
    wasCharging_ = r->charging;
    if (r->charging || r->percent > lowPercent) warnedLow_ = false;
    if (!settings_->get(keys::batteryNotices) || !onNotice) return;
    if (pluggedIn) {
        onNotice(Notice::charging(r->percent));
    } else if (!r->charging && r->percent <= lowPercent && !warnedLow_) {
        warnedLow_ = true;
        onNotice(Notice::lowBattery(r->percent));
    }
}

HeadphoneMonitor::HeadphoneMonitor(BluetoothAudio* source, Settings* settings, QObject* parent)
    : QObject(parent), source_(source ? source : new BluezAudio(this)), settings_(settings ? settings : &Settings::shared()) {
    source_->setParent(this);
    connect(source_, &BluetoothAudio::connected, this, [this](const QString& name, std::optional<int> percent) {
        QList<Notice::Battery> batteries;
        if (percent) batteries.append({QString(), *percent});
        deviceConnected(name, batteries);
    });
}

void HeadphoneMonitor::start() { setWatching(settings_->get(keys::headphoneNotices)); }

void HeadphoneMonitor::setWatching(bool on) {
    if (on == watching_) return;
    watching_ = on;
    if (on) source_->start();
    else source_->stop();
}

void HeadphoneMonitor::deviceConnected(const QString& name, const QList<Notice::Battery>& batteries) {
    if (!watching_ || !settings_->get(keys::headphoneNotices) || !onNotice) return;
    onNotice(Notice::device(name, QStringLiteral("headphones"), batteries));
}

} // namespace lomex
