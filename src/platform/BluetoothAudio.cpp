#include "platform/BluetoothAudio.h"
#include "core/Log.h"
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QPointer>
#include <QTimer>
#include <algorithm>

namespace lomex {

namespace {
const QString kService = QStringLiteral("org.bluez");
const QString kDevice = QStringLiteral("org.bluez.Device1");
const QString kBattery = QStringLiteral("org.bluez.Battery1");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kObjectManager = QStringLiteral("org.freedesktop.DBus.ObjectManager");

// Audio and video is major device class 4 of the Bluetooth class of device.
constexpr uint kMajorClassAudio = 0x04;
// Profiles of audio devices: A2DP sink, headset, hands-free.
const QStringList kAudioProfiles{QStringLiteral("0000110b-0000-1000-8000-00805f9b34fb"),
                                 QStringLiteral("00001108-0000-1000-8000-00805f9b34fb"),
                                 QStringLiteral("0000111e-0000-1000-8000-00805f9b34fb")};

using Interfaces = QMap<QString, QVariantMap>;

Interfaces readInterfaces(const QDBusArgument& argument) {
    Interfaces interfaces;
    argument >> interfaces;
    return interfaces;
}
} // namespace

BluezAudio::BluezAudio(QObject* parent) : BluezAudio(QDBusConnection::systemBus(), parent) {}

BluezAudio::BluezAudio(const QDBusConnection& bus, QObject* parent) : BluetoothAudio(parent), bus_(bus) {}

BluezAudio::~BluezAudio() { stop(); }

bool BluezAudio::start() {
    if (watching_) return true;
    if (!bus_.isConnected()) return false;
    watching_ = true;
    ++generation_;
    // Any path: each device is an object of its own.
    bus_.connect(kService, QString(), kProperties, QStringLiteral("PropertiesChanged"), this,
                 SLOT(onPropertiesChanged(QDBusMessage)));
    bus_.connect(kService, QStringLiteral("/"), kObjectManager, QStringLiteral("InterfacesAdded"), this,
                 SLOT(onInterfacesAdded(QDBusMessage)));
    bus_.connect(kService, QStringLiteral("/"), kObjectManager, QStringLiteral("InterfacesRemoved"), this,
                 SLOT(onInterfacesRemoved(QDBusMessage)));

    // What is there already; a device connected before the watch started is no news.
    auto call = QDBusMessage::createMethodCall(kService, QStringLiteral("/"), kObjectManager,
                                               QStringLiteral("GetManagedObjects"));
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, 5000), this);
    const quint64 generation = generation_;
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, generation] {
        watcher->deleteLater();
        if (!watching_ || generation != generation_) return;
        const QDBusMessage reply = watcher->reply();
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
            log("Bluetooth devices cannot be watched: " + watcher->error().message());
            return;
        }
        const QDBusArgument objects = reply.arguments().constFirst().value<QDBusArgument>();
        objects.beginMap();
        while (!objects.atEnd()) {
            QDBusObjectPath path;
            Interfaces interfaces;
            objects.beginMapEntry();
            objects >> path >> interfaces;
            objects.endMapEntry();
            // Known state only: a device connected before the watch started is no news.
            QVariantMap device = interfaces.value(kDevice);
            const bool connected = device.take(QStringLiteral("Connected")).toBool();
            if (interfaces.contains(kDevice)) update(path.path(), kDevice, device);
            if (interfaces.contains(kBattery)) update(path.path(), kBattery, interfaces.value(kBattery));
            const auto found = devices_.find(path.path());
            if (found != devices_.end() && !found->waiting) found->connected = found->connected || connected;
        }
        objects.endMap();
    });
    return true;
}

void BluezAudio::stop() {
    if (!watching_) return;
    watching_ = false;
    ++generation_;
    bus_.disconnect(kService, QString(), kProperties, QStringLiteral("PropertiesChanged"), this,
                    SLOT(onPropertiesChanged(QDBusMessage)));
    bus_.disconnect(kService, QStringLiteral("/"), kObjectManager, QStringLiteral("InterfacesAdded"), this,
                    SLOT(onInterfacesAdded(QDBusMessage)));
    bus_.disconnect(kService, QStringLiteral("/"), kObjectManager, QStringLiteral("InterfacesRemoved"), this,
                    SLOT(onInterfacesRemoved(QDBusMessage)));
    for (Device& d : devices_) delete d.waiting;
    devices_.clear();
}

void BluezAudio::onPropertiesChanged(const QDBusMessage& message) {
    if (!watching_ || message.arguments().size() < 2) return;
    const QString interface = message.arguments().at(0).toString();
    if (interface != kDevice && interface != kBattery) return;
    const QVariantMap changed = qdbus_cast<QVariantMap>(message.arguments().at(1));
    update(message.path(), interface, changed);
}

void BluezAudio::onInterfacesAdded(const QDBusMessage& message) {
    if (!watching_ || message.arguments().size() < 2) return;
    const QString path = message.arguments().at(0).value<QDBusObjectPath>().path();
    const Interfaces interfaces = readInterfaces(message.arguments().at(1).value<QDBusArgument>());
    // The device first, so a battery added with it belongs to a known device.
    if (interfaces.contains(kDevice)) update(path, kDevice, interfaces.value(kDevice));
    if (interfaces.contains(kBattery)) update(path, kBattery, interfaces.value(kBattery));
}

void BluezAudio::onInterfacesRemoved(const QDBusMessage& message) {
    if (!watching_ || message.arguments().size() < 2) return;
    const QString path = message.arguments().at(0).value<QDBusObjectPath>().path();
    if (message.arguments().at(1).toStringList().contains(kDevice)) forget(path);
}

void BluezAudio::update(const QString& path, const QString& interface, const QVariantMap& properties) {
    Device& d = devices_[path];
    if (interface == kBattery) {
        if (!properties.contains(QStringLiteral("Percentage"))) return;
        d.battery = std::clamp(properties.value(QStringLiteral("Percentage")).toInt(), 0, 100);
        if (d.waiting) announce(path);
        return;
    }
    for (const char* known : {"Alias", "Name", "Icon", "Class", "UUIDs"})
        if (properties.contains(QLatin1String(known))) d.described = true;
    if (properties.contains(QStringLiteral("Alias")) || properties.contains(QStringLiteral("Name"))) {
        const QString alias = properties.value(QStringLiteral("Alias")).toString();
        d.name = alias.isEmpty() ? properties.value(QStringLiteral("Name"), d.name).toString() : alias;
    }
    if (properties.contains(QStringLiteral("Icon")) && properties.value(QStringLiteral("Icon")).toString().startsWith(QLatin1String("audio-")))
        d.audio = true;
    if (properties.contains(QStringLiteral("Class")) && ((properties.value(QStringLiteral("Class")).toUInt() >> 8) & 0x1f) == kMajorClassAudio)
        d.audio = true;
    if (properties.contains(QStringLiteral("UUIDs"))) {
        const QStringList uuids = properties.value(QStringLiteral("UUIDs")).toStringList();
        if (std::any_of(uuids.cbegin(), uuids.cend(), [](const QString& u) { return kAudioProfiles.contains(u.toLower()); }))
            d.audio = true;
    }
    if (!properties.contains(QStringLiteral("Connected"))) return;
    const bool connected = properties.value(QStringLiteral("Connected")).toBool();
    const bool wasConnected = d.connected;
    d.connected = connected;
    if (!connected) {
        delete d.waiting;
        d.waiting = nullptr;
        d.battery.reset();
        d.announced = false;
        return;
    }
    if (wasConnected) return;
    if (!d.described) describe(path);
    else await(path);
}

void BluezAudio::await(const QString& path) {
    Device& d = devices_[path];
    if (!d.audio || !d.connected || d.waiting || d.announced) return;
    d.waiting = new QTimer(this);
    d.waiting->setSingleShot(true);
    connect(d.waiting, &QTimer::timeout, this, [this, path] { announce(path); });
    d.waiting->start(d.battery ? 0 : batteryWaitMs);
}

void BluezAudio::describe(const QString& path) {
    const quint64 generation = generation_;
    for (const QString& interface : {kDevice, kBattery}) {
        auto call = QDBusMessage::createMethodCall(kService, path, kProperties, QStringLiteral("GetAll"));
        call.setArguments({interface});
        auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, 5000), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, generation, path, interface] {
            watcher->deleteLater();
            if (!watching_ || generation != generation_ || !devices_.contains(path)) return;
            const QDBusMessage reply = watcher->reply();
            if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
                QVariantMap properties = qdbus_cast<QVariantMap>(reply.arguments().constFirst());
                properties.remove(QStringLiteral("Connected")); // the signal already told us
                update(path, interface, properties);
            }
            if (interface == kDevice) {
                devices_[path].described = true;
                await(path);
            }
        });
    }
}

void BluezAudio::announce(const QString& path) {
    auto it = devices_.find(path);
    if (it == devices_.end() || !it->waiting) return;
    it->waiting->deleteLater();
    it->waiting = nullptr;
    it->announced = true;
    Q_EMIT connected(it->name, it->battery);
}

void BluezAudio::forget(const QString& path) {
    auto it = devices_.find(path);
    if (it == devices_.end()) return;
    delete it->waiting;
    devices_.erase(it);
}

} // namespace lomex
