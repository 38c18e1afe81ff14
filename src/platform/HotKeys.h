#pragma once
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

namespace lomex {

// System-wide hot keys. On X11 they are grabbed on the root window (XGrabKey); where the
// platform offers no such thing (Wayland-only sessions, the offscreen platform) nothing is
// registered and add() reports false.
class HotKeys : public QObject {
    Q_OBJECT
public:
    enum Modifier { shift = 1, control = 2, alt = 4, super = 8 };

    struct Key {
        QString name;   // for the log
        unsigned keysym; // X keysym, e.g. 0x006b for "k"
        int modifiers;   // Modifier flags
    };

    using QObject::QObject;
    ~HotKeys() override = default;

    // The layer for the running platform.
    static std::unique_ptr<HotKeys> create(QObject* parent = nullptr);

    virtual bool add(const Key& key, std::function<void()> action) = 0;
    virtual void removeAll() = 0;
    virtual int count() const = 0;
};

// Used where no global keys exist; also what tests get on the offscreen platform.
class NullHotKeys : public HotKeys {
    Q_OBJECT
public:
    using HotKeys::HotKeys;
    bool add(const Key&, std::function<void()>) override { return false; }
    void removeAll() override {}
    int count() const override { return 0; }
};

} // namespace lomex
