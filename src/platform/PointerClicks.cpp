#include "platform/PointerClicks.h"
#include "core/Log.h"
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QSocketNotifier>

#include <X11/Xlib.h>
#include <X11/Xproto.h>
#include <X11/extensions/record.h>

namespace lomex {

namespace {

class NoPointerClicks : public PointerClicks {
public:
    using PointerClicks::PointerClicks;
    bool start() override { return false; }
    bool isWatching() const override { return false; }
};

class RecordPointerClicks : public PointerClicks {
public:
    using PointerClicks::PointerClicks;
    ~RecordPointerClicks() override { shutdown(); }

    bool start() override {
        if (watching_) return true;
        if (failed_) return false;
        // Two connections of our own: one to control the context, one that delivers the data.
        control_ = XOpenDisplay(nullptr);
        data_ = XOpenDisplay(nullptr);
        int major = 0, minor = 0;
        if (!control_ || !data_ || !XRecordQueryVersion(control_, &major, &minor)) {
            fail("the display offers no RECORD extension");
            return false;
        }
        XRecordRange* range = XRecordAllocRange();
        if (!range) {
            fail("could not allocate a record range");
            return false;
        }
        range->device_events.first = ButtonPress;
        range->device_events.last = ButtonPress;
        XRecordClientSpec clients = XRecordAllClients;
        context_ = XRecordCreateContext(control_, 0, &clients, 1, &range, 1);
        XFree(range);
        XSync(control_, False);
        if (!context_ || !XRecordEnableContextAsync(data_, context_, &RecordPointerClicks::intercept,
                                                    reinterpret_cast<XPointer>(this))) {
            fail("could not start recording pointer presses");
            return false;
        }
        notifier_ = new QSocketNotifier(ConnectionNumber(data_), QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, [this] {
            if (data_) XRecordProcessReplies(data_);
        });
        XRecordProcessReplies(data_);
        watching_ = true;
        return true;
    }

    bool isWatching() const override { return watching_; }

private:
    static void intercept(XPointer closure, XRecordInterceptData* d) {
        auto* self = reinterpret_cast<RecordPointerClicks*>(closure);
        if (d->category == XRecordFromServer && d->data_len * 4 >= sizeof(xEvent)) {
            const auto* ev = reinterpret_cast<const xEvent*>(d->data);
            const int type = ev->u.u.type & 0x7f;
            const int button = ev->u.u.detail;
            // Buttons 1-3 are clicks; 4 and up are wheel steps.
            if (type == ButtonPress && button >= 1 && button <= 3) {
                QPoint p(ev->u.keyButtonPointer.rootX, ev->u.keyButtonPointer.rootY);
                const qreal dpr = qGuiApp && qGuiApp->primaryScreen() ? qGuiApp->primaryScreen()->devicePixelRatio() : 1.0;
                if (dpr > 0 && dpr != 1.0) p = QPoint(int(p.x() / dpr), int(p.y() / dpr));
                QPointer<RecordPointerClicks> guard(self);
                QMetaObject::invokeMethod(self, [guard, p] {
                    if (guard) Q_EMIT guard->pressed(p);
                }, Qt::QueuedConnection);
            }
        }
        XRecordFreeData(d);
    }

    void fail(const QString& why) {
        failed_ = true;
        log("clicks outside the notch cannot be seen: " + why);
        shutdown();
    }

    void shutdown() {
        delete notifier_;
        notifier_ = nullptr;
        if (control_ && context_) {
            XRecordDisableContext(control_, context_);
            XRecordFreeContext(control_, context_);
            XFlush(control_);
        }
        context_ = 0;
        if (data_) XCloseDisplay(data_);
        if (control_) XCloseDisplay(control_);
        data_ = control_ = nullptr;
        watching_ = false;
    }

    Display* control_ = nullptr;
    Display* data_ = nullptr;
    XRecordContext context_ = 0;
    QSocketNotifier* notifier_ = nullptr;
    bool watching_ = false;
    bool failed_ = false;
};

} // namespace

std::unique_ptr<PointerClicks> PointerClicks::create(QObject* parent) {
    if (QGuiApplication::platformName() == QLatin1String("xcb")) return std::make_unique<RecordPointerClicks>(parent);
    return std::make_unique<NoPointerClicks>(parent);
}

} // namespace lomex
