#include "platform/PowerSource.h"
#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDBusVariant>
#include <cmath>

namespace lomex {

namespace {
const char* kService = "org.freedesktop.UPower";
const char* kDevice = "/org/freedesktop/UPower/devices/DisplayDevice";
// UPower device states.
constexpr uint kCharging = 1, kFullyCharged = 4, kPendingCharge = 5;

std::optional<QVariant> deviceProperty(const char* name) {
    QDBusInterface props(QString::fromLatin1(kService), QString::fromLatin1(kDevice),
                         QStringLiteral("org.freedesktop.DBus.Properties"), QDBusConnection::systemBus());
    if (!props.isValid()) return std::nullopt;
    props.setTimeout(1000);
    QDBusReply<QDBusVariant> reply =
        props.call(QStringLiteral("Get"), QStringLiteral("org.freedesktop.UPower.Device"), QString::fromLatin1(name));
    if (!reply.isValid()) return std::nullopt;
    return reply.value().variant();
}
} // namespace

std::optional<PowerSource::Reading> UPowerSource::read() const {
    const auto present = deviceProperty("IsPresent");
    if (!present || !present->toBool()) return std::nullopt;
    const auto percent = deviceProperty("Percentage");
    const auto state = deviceProperty("State");
    if (!percent || !state) return std::nullopt;
    const uint s = state->toUInt();
    return Reading{std::clamp(int(std::lround(percent->toDouble())), 0, 100),
                   s == kCharging || s == kFullyCharged || s == kPendingCharge};
}

bool UPowerSource::start() {
    return QDBusConnection::systemBus().connect(QString::fromLatin1(kService), QString::fromLatin1(kDevice),
                                                QStringLiteral("org.freedesktop.DBus.Properties"),
                                                QStringLiteral("PropertiesChanged"), this, SLOT(propertiesChanged()));
}

void UPowerSource::propertiesChanged() { Q_EMIT changed(); }

} // namespace lomex
