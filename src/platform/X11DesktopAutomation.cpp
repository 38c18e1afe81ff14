#include "platform/DesktopAutomation.h"
#include "platform/RunningApps.h"
#include "core/Paths.h"
#include "platform/XcbSelection.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QPointer>
#include <QThread>
#include <QSet>
#include <QSocketNotifier>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <poll.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

namespace lomex {

namespace {

using xcbsupport::Reply;
using xcbsupport::maxClientWindows;

constexpr int maxTreeDepth = 64;
// X keysyms of the keys we press.
constexpr xcb_keysym_t keyControl = 0xffe3, keyShift = 0xffe1, keyV = 0x0076, keyReturn = 0xff0d;

// Window classes of terminal emulators (lower case): the session's shell reads a paste there.
const QSet<QString>& terminalClasses()
{
    static const QSet<QString> names{
        QStringLiteral("xterm"), QStringLiteral("uxterm"), QStringLiteral("urxvt"), QStringLiteral("rxvt"),
        QStringLiteral("kitty"), QStringLiteral("alacritty"), QStringLiteral("gnome-terminal"),
        QStringLiteral("gnome-terminal-server"), QStringLiteral("konsole"), QStringLiteral("xfce4-terminal"),
        QStringLiteral("tilix"), QStringLiteral("terminator"), QStringLiteral("org.wezfurlong.wezterm"),
        QStringLiteral("foot"), QStringLiteral("st-256color"), QStringLiteral("com.mitchellh.ghostty"),
        QStringLiteral("ghostty"), QStringLiteral("dev.warp.warp"), QStringLiteral("warp"),
        QStringLiteral("lxterminal"), QStringLiteral("mate-terminal"), QStringLiteral("qterminal"),
        QStringLiteral("x-terminal-emulator"), QStringLiteral("terminology"), QStringLiteral("sakura")};
    return names;
}

} // namespace

struct X11DesktopAutomation::State : xcbsupport::SelectionClient {
    bool xtest = false;
    QPointer<QSocketNotifier> notifier; // owned by the application, which may go first

    ClipboardSnapshot offered; // what we serve while we own CLIPBOARD
    std::atomic<bool> fetched{false};

    // Events that arrive while we wait for an answer of our own are served as usual.
    State() { dispatch = [this](xcb_generic_event_t* ev) { handle(ev); }; }

    // Connects to $DISPLAY and makes our 1x1 input-only window; false without a display.
    bool open()
    {
        if (!SelectionClient::open())
            return false;
        const xcb_query_extension_reply_t* ext = xcb_get_extension_data(conn, &xcb_test_id);
        xtest = ext && ext->present;
        return true;
    }

    QList<uint32_t> cardinals(xcb_window_t w, xcb_atom_t property, xcb_atom_t type, uint32_t maxItems)
    {
        return xcbsupport::cardinals(conn, w, property, type, maxItems);
    }

    qint64 pidOf(xcb_window_t w)
    {
        const QList<uint32_t> pid = cardinals(w, atom("_NET_WM_PID"), XCB_ATOM_CARDINAL, 1);
        return pid.isEmpty() ? 0 : pid.first();
    }

    QString classOf(xcb_window_t w)
    {
        Reply<xcb_get_property_reply_t> r(xcb_get_property_reply(
            conn, xcb_get_property(conn, 0, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256), nullptr));
        if (!r || r->format != 8)
            return {};
        return runningapps::windowClassFrom(QByteArray(static_cast<const char*>(xcb_get_property_value(r.get())),
                                                       xcb_get_property_value_length(r.get())));
    }

    bool ewmh()
    {
        return !cardinals(root, atom("_NET_SUPPORTING_WM_CHECK"), XCB_ATOM_WINDOW, 1).isEmpty();
    }

    // Managed top-level windows: the window manager's list, or the root's children without one.
    QList<xcb_window_t> clients()
    {
        QList<xcb_window_t> out;
        for (uint32_t w : cardinals(root, atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW, maxClientWindows))
            out.append(w);
        if (!out.isEmpty())
            return out;
        Reply<xcb_query_tree_reply_t> r(xcb_query_tree_reply(conn, xcb_query_tree(conn, root), nullptr));
        if (!r)
            return out;
        const xcb_window_t* children = xcb_query_tree_children(r.get());
        const int n = std::min(xcb_query_tree_children_length(r.get()), int(maxClientWindows));
        for (int i = 0; i < n; ++i)
            out.append(children[i]);
        return out;
    }

    xcb_window_t parentOf(xcb_window_t w)
    {
        Reply<xcb_query_tree_reply_t> r(xcb_query_tree_reply(conn, xcb_query_tree(conn, w), nullptr));
        return r ? r->parent : 0;
    }

    // The client window that holds w (w itself or an ancestor); 0 when none does.
    xcb_window_t clientHolding(xcb_window_t w, const QList<xcb_window_t>& list)
    {
        for (int depth = 0; w && w != root && depth < maxTreeDepth; ++depth) {
            if (list.contains(w))
                return w;
            w = parentOf(w);
        }
        return 0;
    }

    // ---- selections ----

    void serve(const xcb_selection_request_event_t* req)
    {
        xcb_selection_notify_event_t notify{};
        notify.response_type = XCB_SELECTION_NOTIFY;
        notify.time = req->time;
        notify.requestor = req->requestor;
        notify.selection = req->selection;
        notify.target = req->target;
        notify.property = XCB_ATOM_NONE;
        const xcb_atom_t property = req->property == XCB_ATOM_NONE ? req->target : req->property;
        const QByteArray target = atomName(req->target);
        // Anything larger than one request would need the incremental protocol; we offer less.
        const qint64 maxData = qint64(xcb_get_maximum_request_length(conn)) * 4 - 1024;
        if (req->selection == atom("CLIPBOARD") && !offered.isEmpty()) {
            if (target == "TARGETS") {
                QList<uint32_t> list{atom("TARGETS")};
                if (offered.listsTimestamp)
                    list.append(atom("TIMESTAMP"));
                for (const auto& item : offered.items)
                    list.append(atom(item.target));
                xcb_change_property(conn, XCB_PROP_MODE_REPLACE, req->requestor, property, XCB_ATOM_ATOM, 32,
                                    uint32_t(list.size()), list.constData());
                notify.property = property;
            } else if (target == "TIMESTAMP") {
                const uint32_t t = 0;
                xcb_change_property(conn, XCB_PROP_MODE_REPLACE, req->requestor, property, XCB_ATOM_INTEGER, 32, 1, &t);
                notify.property = property;
            } else {
                for (const auto& item : offered.items) {
                    if (item.target != target || item.data.size() > maxData)
                        continue;
                    const int unit = item.format / 8;
                    xcb_change_property(conn, XCB_PROP_MODE_REPLACE, req->requestor, property, atom(item.type),
                                        uint8_t(item.format), uint32_t(item.data.size() / unit), item.data.constData());
                    notify.property = property;
                    fetched = true;
                    break;
                }
            }
        }
        xcb_send_event(conn, 0, req->requestor, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&notify));
        flush();
    }

    // Handles one event that is not an answer someone waits for.
    void handle(xcb_generic_event_t* ev)
    {
        switch (ev->response_type & 0x7f) {
        case XCB_SELECTION_REQUEST:
            serve(reinterpret_cast<xcb_selection_request_event_t*>(ev));
            break;
        case XCB_SELECTION_CLEAR:
            // The notice of a loss can be read only after we took the clipboard back (own()
            // reads events while it waits): the server says whether the loss still stands.
            if (reinterpret_cast<xcb_selection_clear_event_t*>(ev)->selection == atom("CLIPBOARD")
                && owner(atom("CLIPBOARD")) != window)
                offered = {};
            break;
        default:
            break;
        }
    }

    void drain()
    {
        if (!conn)
            return;
        while (xcb_generic_event_t* ev = xcb_poll_for_event(conn)) {
            handle(ev);
            std::free(ev);
        }
    }

    void own(const ClipboardSnapshot& content)
    {
        offered = content;
        fetched = false;
        xcb_set_selection_owner(conn, content.isEmpty() ? xcb_window_t(XCB_WINDOW_NONE) : window, atom("CLIPBOARD"),
                                XCB_CURRENT_TIME);
        // A round trip: once it returns the server has made the change, so a question asked on
        // another connection afterwards (ownsClipboard) sees it. Events read while waiting for
        // the answer are queued inside xcb, where the socket notifier cannot see them: serve
        // them now.
        owner(atom("CLIPBOARD"));
        drain();
    }

    // ---- keys ----

    std::optional<xcb_keycode_t> keycode(xcb_keysym_t sym)
    {
        const xcb_setup_t* setup = xcb_get_setup(conn);
        const int count = setup->max_keycode - setup->min_keycode + 1;
        Reply<xcb_get_keyboard_mapping_reply_t> r(xcb_get_keyboard_mapping_reply(
            conn, xcb_get_keyboard_mapping(conn, setup->min_keycode, uint8_t(count)), nullptr));
        if (!r)
            return std::nullopt;
        const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(r.get());
        const int per = r->keysyms_per_keycode;
        for (int k = 0; k < count; ++k)
            for (int i = 0; i < per; ++i)
                if (syms[k * per + i] == sym)
                    return xcb_keycode_t(setup->min_keycode + k);
        return std::nullopt;
    }

    void press(const QList<xcb_keysym_t>& chord)
    {
        QList<xcb_keycode_t> codes;
        for (xcb_keysym_t sym : chord) {
            const auto code = keycode(sym);
            if (!code)
                return;
            codes.append(*code);
        }
        for (xcb_keycode_t c : codes)
            xcb_test_fake_input(conn, XCB_KEY_PRESS, c, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        for (auto it = codes.crbegin(); it != codes.crend(); ++it)
            xcb_test_fake_input(conn, XCB_KEY_RELEASE, *it, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        flush();
    }
};

// Owns and serves CLIPBOARD on a connection and thread of its own. Qt reads the clipboard
// synchronously on the GUI thread, waiting for the owner's answer; were we served there, a read
// of our own reply would wait for itself and freeze the application.
class X11DesktopAutomation::Owner final : public QThread {
public:
    State state; // touched on this thread only, apart from `window` and `fetched`
    QObject context;

    Owner()
    {
        if (state.open())
            context.moveToThread(this);
    }
    ~Owner() override
    {
        quit();
        wait();
        if (state.conn)
            xcb_disconnect(state.conn);
    }
    bool ok() const { return state.ok() && isRunning(); }

    // Runs fn on the owner's thread and returns when it is done.
    template <typename Fn>
    void call(Fn fn)
    {
        if (ok())
            QMetaObject::invokeMethod(&context, std::move(fn), Qt::BlockingQueuedConnection);
    }

protected:
    void run() override
    {
        QSocketNotifier notifier(xcb_get_file_descriptor(state.conn), QSocketNotifier::Read);
        QObject::connect(&notifier, &QSocketNotifier::activated, [this] { state.drain(); });
        state.drain();
        exec();
    }
};

X11DesktopAutomation::X11DesktopAutomation() : d(std::make_unique<State>()), owner_(std::make_unique<Owner>())
{
    if (!d->open())
        return;
    if (owner_->state.ok())
        owner_->start();
    // Answers to our own clipboard fetches arrive while the event loop runs.
    if (QCoreApplication::instance()) {
        QCoreApplication* app = QCoreApplication::instance();
        d->notifier = new QSocketNotifier(xcb_get_file_descriptor(d->conn), QSocketNotifier::Read,
                                          app->thread() == QThread::currentThread() ? app : nullptr);
        QObject::connect(d->notifier, &QSocketNotifier::activated, [state = d.get()] { state->drain(); });
    }
}

X11DesktopAutomation::~X11DesktopAutomation()
{
    owner_.reset(); // its thread ends before our connection goes
    delete d->notifier;
    if (d->conn)
        xcb_disconnect(d->conn);
}

bool X11DesktopAutomation::trusted()
{
    return d->ok() && d->xtest;
}

std::optional<TargetWindow> X11DesktopAutomation::findWindow(const WindowHint& hint)
{
    if (!d->ok())
        return std::nullopt;
    d->drain();
    const qint64 self = QCoreApplication::applicationPid();
    const QList<xcb_window_t> list = d->clients();
    auto describe = [&](xcb_window_t w, bool terminal) -> std::optional<TargetWindow> {
        TargetWindow t;
        t.window = w;
        t.pid = d->pidOf(w);
        if (t.pid == self)
            return std::nullopt;
        const QString cls = d->classOf(w);
        t.name = cls;
        t.desktopID = runningapps::desktopIDForClass(cls, paths::dataDirs());
        t.terminal = terminal || terminalClasses().contains(cls.toLower());
        return t;
    };
    const xcb_window_t byID = hint.windowID ? d->clientHolding(*hint.windowID, list) : 0;
    // The agent's own process tree is the surest sign: the nearest ancestor that owns a window
    // is the terminal (or editor) the agent runs in. WINDOWID breaks the tie between several
    // windows of one terminal process.
    if (hint.pid) {
        // Every client's pid at once: the requests go out together, then the replies are read.
        const xcb_atom_t pidAtom = d->atom("_NET_WM_PID");
        QList<xcb_get_property_cookie_t> cookies;
        for (xcb_window_t w : list)
            cookies.append(xcb_get_property(d->conn, 0, w, pidAtom, XCB_ATOM_CARDINAL, 0, 1));
        QMultiHash<qint64, xcb_window_t> byPid;
        for (int i = 0; i < list.size(); ++i) {
            Reply<xcb_get_property_reply_t> r(xcb_get_property_reply(d->conn, cookies[i], nullptr));
            if (r && r->format == 32 && xcb_get_property_value_length(r.get()) >= 4)
                byPid.insert(*static_cast<const uint32_t*>(xcb_get_property_value(r.get())), list[i]);
        }
        for (qint64 p : processes::lineage(*hint.pid)) {
            const QList<xcb_window_t> owned = byPid.values(p);
            if (owned.isEmpty())
                continue;
            return describe(owned.contains(byID) ? byID : owned.last(), true);
        }
    }
    if (byID)
        return describe(byID, true);
    for (const QString& id : hint.desktopIDs) {
        for (xcb_window_t w : list) {
            const QString cls = d->classOf(w);
            if (!cls.isEmpty() && runningapps::desktopIDForClass(cls, paths::dataDirs()) == id)
                if (auto t = describe(w, false))
                    return t;
        }
    }
    return std::nullopt;
}

void X11DesktopAutomation::requestActivation(quint32 window)
{
    if (!d->ok())
        return;
    if (d->ewmh()) {
        xcb_client_message_event_t msg{};
        msg.response_type = XCB_CLIENT_MESSAGE;
        msg.format = 32;
        msg.window = window;
        msg.type = d->atom("_NET_ACTIVE_WINDOW");
        msg.data.data32[0] = 2; // from a pager-like tool: honoured even without a user timestamp
        msg.data.data32[1] = XCB_CURRENT_TIME;
        xcb_send_event(d->conn, 0, d->root,
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&msg));
    } else {
        // No window manager: raise it and give it the keyboard ourselves.
        const uint32_t above = XCB_STACK_MODE_ABOVE;
        xcb_configure_window(d->conn, window, XCB_CONFIG_WINDOW_STACK_MODE, &above);
        xcb_set_input_focus(d->conn, XCB_INPUT_FOCUS_POINTER_ROOT, window, XCB_CURRENT_TIME);
    }
    d->flush();
}

bool X11DesktopAutomation::isActive(quint32 window)
{
    if (!d->ok())
        return false;
    d->drain();
    if (d->ewmh()) {
        const QList<uint32_t> active = d->cardinals(d->root, d->atom("_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW, 1);
        return !active.isEmpty() && active.first() == window;
    }
    Reply<xcb_get_input_focus_reply_t> r(xcb_get_input_focus_reply(d->conn, xcb_get_input_focus(d->conn), nullptr));
    if (!r || r->focus <= XCB_INPUT_FOCUS_POINTER_ROOT)
        return false;
    xcb_window_t w = r->focus;
    for (int depth = 0; w && w != d->root && depth < maxTreeDepth; ++depth) {
        if (w == window)
            return true;
        w = d->parentOf(w);
    }
    return false;
}

ClipboardSnapshot X11DesktopAutomation::snapshotClipboard()
{
    ClipboardSnapshot snap;
    if (!d->ok())
        return snap;
    d->drain();
    const xcb_window_t owner = d->owner(d->atom("CLIPBOARD"));
    if (owner == XCB_WINDOW_NONE)
        return snap;
    if (owner == owner_->state.window) {
        ClipboardSnapshot offered;
        owner_->call([this, &offered] { offered = owner_->state.offered; });
        return offered;
    }
    QElapsedTimer clock;
    clock.start();
    const QList<QByteArray> targets = d->targets(clock, snapshotBudgetMs);
    if (targets.isEmpty()) {
        snap.complete = false; // something is owned, but what could not be asked
        return snap;
    }
    snap.listsTimestamp = targets.contains("TIMESTAMP");
    static const QSet<QByteArray> meta{"TARGETS", "MULTIPLE", "TIMESTAMP", "SAVE_TARGETS", "DELETE",
                                       "INSERT_SELECTION", "INSERT_PROPERTY", "ATOM_PAIR", "INCR"};
    qint64 total = 0;
    for (const QByteArray& name : targets) {
        if (meta.contains(name))
            continue;
        const qint64 room = std::min(maxTargetBytes, maxSnapshotBytes - total);
        if (snap.items.size() >= maxTargets || room <= 0 || clock.elapsed() >= snapshotBudgetMs) {
            snap.complete = false;
            break;
        }
        if (auto data = d->fetch(d->atom(name), room, clock, snapshotBudgetMs)) {
            total += data->data.size();
            snap.items.append({name, data->type, data->format, data->data});
        } else {
            // Refused as too large, or the owner too slow: a target left out.
            snap.complete = false;
        }
    }
    return snap;
}

void X11DesktopAutomation::setClipboardText(const QString& text)
{
    if (!d->ok())
        return;
    const QByteArray utf8 = text.toUtf8();
    ClipboardSnapshot content;
    for (const char* target : {"UTF8_STRING", "text/plain;charset=utf-8", "TEXT"})
        content.items.append({target, "UTF8_STRING", 8, utf8});
    content.items.append({"STRING", "STRING", 8, text.toLatin1()});
    // Clipboard histories (ours too) skip a copy with this marker: the reply is not the user's copy.
    content.items.append({"org.nspasteboard.TransientType", "UTF8_STRING", 8, QByteArray()});
    owner_->call([this, content] { owner_->state.own(content); });
}

bool X11DesktopAutomation::pasteFetched()
{
    if (d->ok())
        d->drain();
    return owner_->state.fetched.load();
}

bool X11DesktopAutomation::ownsClipboard()
{
    if (!d->ok())
        return false;
    d->drain();
    return owner_->ok() && d->owner(d->atom("CLIPBOARD")) == owner_->state.window;
}

void X11DesktopAutomation::restoreClipboard(const ClipboardSnapshot& snapshot)
{
    if (d->ok())
        owner_->call([this, snapshot] { owner_->state.own(snapshot); });
}

void X11DesktopAutomation::sendPaste(bool terminal)
{
    if (!trusted())
        return;
    d->press(terminal ? QList<xcb_keysym_t>{keyControl, keyShift, keyV} : QList<xcb_keysym_t>{keyControl, keyV});
}

void X11DesktopAutomation::sendReturn()
{
    if (trusted())
        d->press({keyReturn});
}

} // namespace lomex
