#pragma once
#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <optional>

class QDBusMessage;
class QTimer;

namespace lomex {

// Bluetooth audio devices (headphones, headsets, speakers) connecting to this machine.
// connected() fires once per connection, with the device's name and its battery level when
// the device reports one. Watching starts and stops on request; nothing is watched before.
class BluetoothAudio : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    // Starts watching; false when there is no Bluetooth service to watch.
    virtual bool start() = 0;
    virtual void stop() = 0;
    virtual bool isWatching() const = 0;

Q_SIGNALS:
    void connected(const QString& name, std::optional<int> batteryPercent);
};

// BlueZ on the system D-Bus: org.bluez Device1 "Connected" of audio devices, with Battery1
// "Percentage" where the device has it. Every call is asynchronous, so a slow or absent BlueZ
// never holds up the GUI thread.
class BluezAudio : public BluetoothAudio {
    Q_OBJECT
public:
    explicit BluezAudio(QObject* parent = nullptr);
    // Another bus than the system bus (tests run a mock BlueZ on a private bus).
    BluezAudio(const QDBusConnection& bus, QObject* parent);
    ~BluezAudio() override;

    bool start() override;
    void stop() override;
    bool isWatching() const override { return watching_; }

    // Headsets often report their battery a moment after they connect; the notice waits this
    // long for it before it is shown without one.
    int batteryWaitMs = 3000;

private Q_SLOTS:
    void onPropertiesChanged(const QDBusMessage& message);
    void onInterfacesAdded(const QDBusMessage& message);
    void onInterfacesRemoved(const QDBusMessage& message);

private:
    struct Device {
        QString name;
        bool audio = false;
        bool connected = false;
        bool described = false; // its name or kind has been seen
        bool announced = false; // this connection's notice went out
        std::optional<int> battery;
        QTimer* waiting = nullptr; // while a connection waits for its battery
    };
    void update(const QString& path, const QString& interface, const QVariantMap& properties);
    // A connection of an audio device: announced once its battery is known or the wait is over.
    void await(const QString& path);
    // Asks BlueZ about a device that connected before anything else about it was seen.
    void describe(const QString& path);
    void announce(const QString& path);
    void forget(const QString& path);

    QDBusConnection bus_;
    bool watching_ = false;
    quint64 generation_ = 0; // answers to a watch that was stopped are dropped
    QHash<QString, Device> devices_;
};

} // namespace lomex
