#include "platform/HotKeys.h"
#include "core/Log.h"
#include <QAbstractNativeEventFilter>
#include <QGuiApplication>
#include <vector>

#include <X11/Xlib.h>
#include <xcb/xcb.h>

namespace lomex {

namespace {

uint16_t xMask(int modifiers) {
    uint16_t m = 0;
    if (modifiers & HotKeys::shift) m |= XCB_MOD_MASK_SHIFT;
    if (modifiers & HotKeys::control) m |= XCB_MOD_MASK_CONTROL;
    if (modifiers & HotKeys::alt) m |= XCB_MOD_MASK_1;
    if (modifiers & HotKeys::super) m |= XCB_MOD_MASK_4;
    return m;
}

constexpr uint16_t kRelevant = XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_4;
// Caps Lock and Num Lock (usually Mod2) must not stop a key from matching, so each key is
// grabbed once per combination of them.
constexpr uint16_t kIgnored[] = {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2, XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};

class X11HotKeys : public HotKeys, public QAbstractNativeEventFilter {
public:
    X11HotKeys(Display* display, xcb_connection_t* conn, QObject* parent)
        : HotKeys(parent), display_(display), conn_(conn) {
        const xcb_setup_t* setup = xcb_get_setup(conn_);
        root_ = xcb_setup_roots_iterator(setup).data->root;
        qApp->installNativeEventFilter(this);
    }
    ~X11HotKeys() override {
        removeAll();
        if (qApp) qApp->removeNativeEventFilter(this);
    }

    bool add(const Key& key, std::function<void()> action) override {
        const xcb_keycode_t code = XKeysymToKeycode(display_, key.keysym);
        if (code == 0) {
            logWarning("hot key " + key.name + ": no key code on this keyboard");
            return false;
        }
        const uint16_t mods = xMask(key.modifiers);
        std::vector<uint16_t> grabbed;
        for (uint16_t extra : kIgnored) {
            auto cookie = xcb_grab_key_checked(conn_, 1, root_, mods | extra, code, XCB_GRAB_MODE_ASYNC,
                                               XCB_GRAB_MODE_ASYNC);
            if (xcb_generic_error_t* err = xcb_request_check(conn_, cookie)) {
                free(err);
                for (uint16_t g : grabbed) xcb_ungrab_key(conn_, code, root_, g);
                xcb_flush(conn_);
                logWarning("hot key " + key.name + " is taken by another program");
                return false;
            }
            grabbed.push_back(mods | extra);
        }
        xcb_flush(conn_);
        entries_.push_back({code, mods, std::move(action)});
        return true;
    }

    void removeAll() override {
        for (const auto& e : entries_)
            for (uint16_t extra : kIgnored) xcb_ungrab_key(conn_, e.code, root_, e.mods | extra);
        if (!entries_.empty()) xcb_flush(conn_);
        entries_.clear();
    }

    int count() const override { return int(entries_.size()); }

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type != "xcb_generic_event_t") return false;
        auto* ev = static_cast<xcb_generic_event_t*>(message);
        if ((ev->response_type & 0x7f) != XCB_KEY_PRESS) return false;
        auto* key = reinterpret_cast<xcb_key_press_event_t*>(ev);
        if (key->root != root_ || key->event != root_) return false;
        for (const auto& e : entries_) {
            if (e.code == key->detail && (key->state & kRelevant) == e.mods) {
                if (e.action) e.action();
                return true;
            }
        }
        return false;
    }

private:
    struct Entry {
        xcb_keycode_t code;
        uint16_t mods;
        std::function<void()> action;
    };
    Display* display_;
    xcb_connection_t* conn_;
    xcb_window_t root_ = 0;
    std::vector<Entry> entries_;
};

} // namespace

std::unique_ptr<HotKeys> HotKeys::create(QObject* parent) {
    if (auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr) {
        if (x11->display() && x11->connection())
            return std::make_unique<X11HotKeys>(x11->display(), x11->connection(), parent);
    }
    return std::make_unique<NullHotKeys>(parent);
}

} // namespace lomex
