#include "platform/DesktopMotion.h"
#include "PrivateBus.h"
#include "TestEnv.h"
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <gtest/gtest.h>

using namespace lomex;

namespace {

// The test's own bus, with the two named connections the tests use.
class Bus : public test::PrivateBus {
public:
    QDBusConnection connect(const QString& name) { return QDBusConnection::connectToBus(address(), name); }
    ~Bus() {
        for (const char* name : {"portal", "client"}) QDBusConnection::disconnectFromBus(QString::fromLatin1(name));
    }
};

// The desktop portal's settings, as GNOME's portal serves them: Read answers a variant of a
// variant, and an error for a key it does not have.
class FakePortal : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")
public:
    QMap<QPair<QString, QString>, QVariant> values;

public Q_SLOTS:
    QDBusVariant Read(const QString& nameSpace, const QString& key) {
        const QVariant value = values.value({nameSpace, key});
        if (!value.isValid()) {
            sendErrorReply(QStringLiteral("org.freedesktop.portal.Error.NotFound"), QStringLiteral("Requested setting not found"));
            return {};
        }
        return QDBusVariant(QVariant::fromValue(QDBusVariant(value)));
    }
};

void announce(QDBusConnection& bus, const QString& nameSpace, const QString& key, const QVariant& value) {
    QDBusMessage signal = QDBusMessage::createSignal("/org/freedesktop/portal/desktop", "org.freedesktop.portal.Settings",
                                                     "SettingChanged");
    signal << nameSpace << key << QVariant::fromValue(QDBusVariant(value));
    bus.send(signal);
}

} // namespace

// GNOME's "reduce animation" reaches the app when it starts and whenever it changes; other
// settings do not disturb it.
TEST(DesktopMotionTest, FollowsTheDesktopPortal) {
    Bus bus;
    if (!bus.start()) GTEST_SKIP() << "dbus-daemon is not installed";
    QDBusConnection service = bus.connect("portal");
    FakePortal portal;
    portal.values[{"org.gnome.desktop.interface", "enable-animations"}] = false;
    ASSERT_TRUE(service.registerObject("/org/freedesktop/portal/desktop", &portal, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(service.registerService("org.freedesktop.portal.Desktop"));

    PortalDesktopMotion motion(bus.connect("client"), nullptr);
    int changes = 0;
    QObject::connect(&motion, &DesktopMotion::changed, [&] { ++changes; });
    EXPECT_EQ(motion.reducedMotion(), std::nullopt) << "nothing is waited for";
    ASSERT_TRUE(test::waitUntil([&] { return motion.reducedMotion().has_value(); }));
    EXPECT_EQ(motion.reducedMotion(), true);

    announce(service, "org.gnome.desktop.interface", "enable-animations", true);
    ASSERT_TRUE(test::waitUntil([&] { return motion.reducedMotion() == false; }));
    announce(service, "org.gnome.desktop.interface", "gtk-theme", "Adwaita-dark");
    announce(service, "org.kde.kdeglobals.KDE", "AnimationDurationFactor", 0.0);
    ASSERT_TRUE(test::waitUntil([&] { return motion.reducedMotion() == true; }));
    EXPECT_EQ(changes, 3);
}

// Without a portal on the bus nothing is known, and nothing blocks.
TEST(DesktopMotionTest, NoPortalLeavesItUnknown) {
    Bus bus;
    if (!bus.start()) GTEST_SKIP() << "dbus-daemon is not installed";
    PortalDesktopMotion motion(bus.connect("client"), nullptr);
    test::waitUntil([] { return false; }, 300);
    EXPECT_EQ(motion.reducedMotion(), std::nullopt);
}

TEST(DesktopMotionTest, ReadsGnomeAndKdeValues) {
    const struct {
        const char* nameSpace;
        const char* key;
        QVariant value;
        std::optional<bool> reduced;
    } cases[] = {{"org.gnome.desktop.interface", "enable-animations", false, true},
                 {"org.gnome.desktop.interface", "enable-animations", true, false},
                 {"org.gnome.desktop.interface", "enable-animations", "no", std::nullopt},
                 {"org.gnome.desktop.interface", "gtk-theme", "Adwaita", std::nullopt},
                 {"org.kde.kdeglobals.KDE", "AnimationDurationFactor", 0.0, true},
                 {"org.kde.kdeglobals.KDE", "AnimationDurationFactor", 0.5, false},
                 {"org.kde.kdeglobals.KDE", "AnimationDurationFactor", QVariant(), std::nullopt}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.key << " " << c.value.toString().toStdString());
        EXPECT_EQ(PortalDesktopMotion::reducedFrom(c.nameSpace, c.key, c.value), c.reduced);
        EXPECT_EQ(PortalDesktopMotion::reducedFrom(c.nameSpace, c.key, QVariant::fromValue(QDBusVariant(c.value))), c.reduced);
    }
}

#include "DesktopMotionTest.moc"
