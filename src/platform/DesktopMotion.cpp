#include "platform/DesktopMotion.h"
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace lomex {

namespace {
const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString kGnome = QStringLiteral("org.gnome.desktop.interface");
const QString kKde = QStringLiteral("org.kde.kdeglobals.KDE");

// The portal wraps values in one variant more than their type (Read returns "v" of "v").
QVariant unwrap(QVariant value) {
    for (int depth = 0; depth < 4 && value.canConvert<QDBusVariant>() && value.userType() == qMetaTypeId<QDBusVariant>(); ++depth)
        value = value.value<QDBusVariant>().variant();
    return value;
}
} // namespace

PortalDesktopMotion::PortalDesktopMotion(QObject* parent) : PortalDesktopMotion(QDBusConnection::sessionBus(), parent) {}

PortalDesktopMotion::PortalDesktopMotion(const QDBusConnection& bus, QObject* parent) : DesktopMotion(parent), bus_(bus) {
    if (!bus_.isConnected()) return;
    bus_.connect(kService, kPath, kInterface, QStringLiteral("SettingChanged"), this,
                 SLOT(settingChanged(QDBusMessage)));
    for (const auto& [nameSpace, key] : {std::pair{kGnome, QStringLiteral("enable-animations")},
                                         std::pair{kKde, QStringLiteral("AnimationDurationFactor")}}) {
        QDBusMessage read = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Read"));
        read << nameSpace << key;
        auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(read, 5000), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, nameSpace, key](QDBusPendingCallWatcher* w) {
            w->deleteLater();
            const QDBusMessage reply = w->reply();
            if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return;
            take(reducedFrom(nameSpace, key, reply.arguments().first()));
        });
    }
}

std::optional<bool> PortalDesktopMotion::reducedFrom(const QString& nameSpace, const QString& key, const QVariant& value) {
    const QVariant v = unwrap(value);
    if (nameSpace == kGnome && key == QLatin1String("enable-animations") && v.typeId() == QMetaType::Bool)
        return !v.toBool();
    if (nameSpace == kKde && key == QLatin1String("AnimationDurationFactor")) {
        bool ok = false;
        const double factor = v.toDouble(&ok);
        if (ok) return factor <= 0;
    }
    return std::nullopt;
}

void PortalDesktopMotion::settingChanged(const QDBusMessage& message) {
    const QVariantList args = message.arguments();
    if (args.size() == 3) take(reducedFrom(args[0].toString(), args[1].toString(), args[2]));
}

void PortalDesktopMotion::take(std::optional<bool> reduced) {
    if (!reduced || reduced == reduced_) return;
    reduced_ = reduced;
    Q_EMIT changed();
}

} // namespace lomex
