#pragma once
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QObject>
#include <QString>
#include <optional>

namespace lomex {

// Whether the user asked the desktop for less motion. Qt passes no such wish on, so it is read
// from the XDG desktop portal's settings, which every desktop with a portal offers: GNOME's
// "enable-animations" and KDE's animation speed. Only the GUI thread touches it.
class DesktopMotion : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    // Unknown until the desktop has answered, and for good where nothing answers.
    virtual std::optional<bool> reducedMotion() const = 0;

Q_SIGNALS:
    // The answer arrived or the user changed the setting.
    void changed();
};

// Asks org.freedesktop.portal.Settings without waiting for it (a missing portal costs nothing)
// and follows its SettingChanged signal.
class PortalDesktopMotion : public DesktopMotion {
    Q_OBJECT
public:
    explicit PortalDesktopMotion(QObject* parent = nullptr);
    PortalDesktopMotion(const QDBusConnection& bus, QObject* parent);
    std::optional<bool> reducedMotion() const override { return reduced_; }

    // What a portal value means for motion, or nothing when the key is not about it.
    static std::optional<bool> reducedFrom(const QString& nameSpace, const QString& key, const QVariant& value);

private Q_SLOTS:
    void settingChanged(const QDBusMessage& message); // namespace, key, value

private:
    void take(std::optional<bool> reduced);
    QDBusConnection bus_;
    std::optional<bool> reduced_;
};

} // namespace lomex
