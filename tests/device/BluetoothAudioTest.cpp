#include "PrivateBus.h"
#include "TestEnv.h"
#include "platform/BluetoothAudio.h"
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <csignal>
#include <sys/prctl.h>

using namespace lomex;

namespace {

// BlueZ as python-dbusmock's bluez5 template plays it, on a private bus of this test.
class MockBluez {
public:
    bool start() {
        python_ = QFileInfo::exists("/usr/bin/python3") ? QStringLiteral("/usr/bin/python3")
                                                        : QStandardPaths::findExecutable("python3");
        if (python_.isEmpty()) return false;
        QProcess probe;
        probe.start(python_, {"-c", "import dbusmock"});
        if (!probe.waitForFinished(10000) || probe.exitCode() != 0) return false;

        if (!bus_.start()) return false;
        address_ = bus_.address();
        // The mock dies with the test, even when it aborts.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DBUS_SYSTEM_BUS_ADDRESS", address_);
        mock_.setProcessEnvironment(env);
        mock_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        mock_.start(python_, {"-m", "dbusmock", "--system", "--template", "bluez5"});
        if (!mock_.waitForStarted(5000)) return false;
        connection_ = QDBusConnection::connectToBus(address_, QStringLiteral("mock-bluez"));
        return connection_.isConnected() &&
               test::waitUntil([&] { return connection_.interface()->isServiceRegistered("org.bluez"); }, 10000);
    }
    ~MockBluez() {
        QDBusConnection::disconnectFromBus(QStringLiteral("mock-bluez"));
        mock_.terminate();
        if (!mock_.waitForFinished(3000)) mock_.kill();
    }
    QDBusConnection bus() const { return connection_; }

    QVariant call(const QString& path, const QString& interface, const QString& method, const QVariantList& args) {
        QDBusMessage m = QDBusMessage::createMethodCall("org.bluez", path, interface, method);
        m.setArguments(args);
        const QDBusMessage reply = connection_.call(m, QDBus::Block, 5000);
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << method.toStdString() << ": " << reply.errorMessage().toStdString();
        return reply.arguments().value(0);
    }
    QString addDevice(const QString& address, const QString& name, const QVariantMap& device, std::optional<uchar> battery) {
        const QString path = call("/", "org.bluez.Mock", "AddDevice", {"hci0", address, name}).toString();
        QVariantMap props;
        for (auto it = device.cbegin(); it != device.cend(); ++it) props.insert(it.key(), it.value());
        if (!props.isEmpty()) call(path, "org.freedesktop.DBus.Mock", "UpdateProperties", {"org.bluez.Device1", props});
        if (battery) call(path, "org.freedesktop.DBus.Mock", "AddProperties", {"org.bluez.Battery1", QVariantMap{{"Percentage", QVariant::fromValue(*battery)}}});
        return path;
    }
    void connect(const QString& address, bool on) {
        if (on) call("/", "org.bluez.Mock", "ConnectDevice", {"hci0", address});
        else call("/", "org.bluez.Mock", "DisconnectDevice", {"hci0", address});
    }

private:
    QString python_, address_;
    test::PrivateBus bus_; // declared first: it goes last, after the mock
    QProcess mock_;
    QDBusConnection connection_{QString()};
};

struct Seen {
    QString name;
    std::optional<int> battery;
    bool operator==(const Seen&) const = default;
};

} // namespace

TEST(BluetoothAudioTest, AudioDevicesThatConnectAreAnnouncedWithTheirBattery) {
    MockBluez bluez;
    if (!bluez.start()) GTEST_SKIP() << "dbus-daemon or python3-dbusmock is not installed";
    bluez.call("/", "org.bluez.Mock", "AddAdapter", {"hci0", "laptop"});
    const QString headphones = "11:22:33:44:55:01", speaker = "11:22:33:44:55:02", phone = "11:22:33:44:55:03",
                  late = "11:22:33:44:55:04", early = "11:22:33:44:55:05";
    bluez.addDevice(headphones, "WH-1000XM4", {{"Icon", "audio-headphones"}}, uchar(73));
    bluez.addDevice(speaker, "Kitchen", {{"Class", QVariant::fromValue(uint(0x240414))}}, std::nullopt); // major class audio
    bluez.addDevice(phone, "Pixel", {{"Icon", "phone"}}, uchar(50));
    const QString latePath = bluez.addDevice(
        late, "Buds", {{"UUIDs", QStringList{"0000110B-0000-1000-8000-00805F9B34FB"}}}, std::nullopt);
    bluez.addDevice(early, "Connected before", {{"Icon", "audio-headset"}}, uchar(90));
    bluez.connect(early, true);

    BluezAudio audio(bluez.bus(), nullptr);
    audio.batteryWaitMs = 400;
    QList<Seen> seen;
    QObject::connect(&audio, &BluetoothAudio::connected,
                     [&](const QString& name, std::optional<int> battery) { seen.append({name, battery}); });
    ASSERT_TRUE(audio.start());
    // No wait for the first look at what is there: a connection seen before it is asked about.

    bluez.connect(headphones, true);
    ASSERT_TRUE(test::waitUntil([&] { return seen.size() == 1; }));
    EXPECT_EQ(seen.last(), (Seen{"WH-1000XM4", 73}));

    bluez.connect(phone, true); // not audio
    bluez.connect(speaker, true); // no battery: announced once the wait is over
    ASSERT_TRUE(test::waitUntil([&] { return seen.size() == 2; }));
    EXPECT_EQ(seen.last(), (Seen{"Kitchen", std::nullopt}));

    // A battery that turns up while the connection waits for it is shown with it.
    bluez.connect(late, true);
    bluez.call(latePath, "org.freedesktop.DBus.Mock", "AddProperties", {"org.bluez.Battery1", QVariantMap{{"Percentage", QVariant::fromValue(uchar(5))}}});
    bluez.call(latePath, "org.freedesktop.DBus.Mock", "UpdateProperties", {"org.bluez.Battery1", QVariantMap{{"Percentage", QVariant::fromValue(uchar(40))}}});
    ASSERT_TRUE(test::waitUntil([&] { return seen.size() == 3; }));
    EXPECT_EQ(seen.last(), (Seen{"Buds", 40}));

    // Each new connection is news again; nothing once the watch is stopped.
    bluez.connect(headphones, false);
    bluez.connect(headphones, true);
    ASSERT_TRUE(test::waitUntil([&] { return seen.size() == 4; }));
    EXPECT_EQ(seen.last().name, "WH-1000XM4");
    audio.stop();
    // A second watch hears the same signals: once it has, the stopped one would have too.
    BluezAudio witness(bluez.bus(), nullptr);
    bool witnessed = false;
    QObject::connect(&witness, &BluetoothAudio::connected, [&] { witnessed = true; });
    ASSERT_TRUE(witness.start());
    bluez.connect(headphones, false);
    bluez.connect(headphones, true);
    ASSERT_TRUE(test::waitUntil([&] { return witnessed; }));
    EXPECT_EQ(seen.size(), 4);
    for (const Seen& s : seen) EXPECT_NE(s.name, "Pixel");
    for (const Seen& s : seen) EXPECT_NE(s.name, "Connected before");
}
