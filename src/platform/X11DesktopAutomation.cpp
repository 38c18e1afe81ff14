#include "platform/DesktopAutomation.h"
#include "platform/RunningApps.h"
#include "core/Paths.h"
#include "platform/XcbSelection.h"
#include "platform/XcbSelectionOwner.h"
#include "core/Async.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QPointer>
#include <QThread>
#include <QSet>
#include <QScopeGuard>
#include <QSocketNotifier>
#include <QTimer>
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
    // Snapshots under way on their own threads; the cancel ends them when we go.
    std::shared_ptr<std::atomic<bool>> cancel = std::make_shared<std::atomic<bool>>(false);
    QList<QFuture<void>> snapshots;

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

    // This connection owns no selection: what arrives unasked is dropped.
    void drain()
    {
        if (!conn)
            return;
        while (xcb_generic_event_t* ev = xcb_poll_for_event(conn))
            std::free(ev);
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
    xcbsupport::SelectionOwner state; // used on this thread, apart from window, fetched, offered()
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
        state.close();
    }
    bool ok() const { return state.ok() && isRunning(); }

    // Runs fn on the owner's thread and returns when it is done.
    template <typename Fn>
    void call(Fn fn)
    {
        if (ok())
            QMetaObject::invokeMethod(
                &context,
                [this, fn = std::move(fn)] {
                    fn();
                    watchStalls();
                },
                Qt::BlockingQueuedConnection);
    }

protected:
    void run() override
    {
        QSocketNotifier notifier(xcb_get_file_descriptor(state.conn), QSocketNotifier::Read);
        QTimer stalls;
        stalls.setInterval(1000);
        stalls_ = &stalls;
        QObject::connect(&notifier, &QSocketNotifier::activated, [this] {
            state.drain();
            watchStalls();
        });
        QObject::connect(&stalls, &QTimer::timeout, [this] {
            if (state.expire() == 0)
                stalls_->stop();
        });
        state.drain();
        exec();
        stalls_ = nullptr;
    }

private:
    // A transfer in pieces whose requestor went silent is ended after a while, so the data it
    // holds (a spill file too) goes once nobody else offers it.
    void watchStalls()
    {
        if (stalls_ && state.transfers() > 0 && !stalls_->isActive())
            stalls_->start();
    }
    QTimer* stalls_ = nullptr;
};

namespace {

// What snapshotClipboard hands over, read on the calling thread over a connection of its own:
// every offered target up to the bounds, large data spilled to a private file. Our own offer
// is taken as it is.
ClipboardSnapshot readClipboard(const std::shared_ptr<const std::atomic<bool>>& cancel,
                                const xcbsupport::SelectionOwner* ours)
{
    ClipboardSnapshot snap;
    xcbsupport::SelectionClient x;
    x.cancel = cancel;
    if (!x.open())
        return snap;
    const auto closing = qScopeGuard([&x] { x.close(); });
    const xcb_window_t owner = x.owner(x.atom("CLIPBOARD"));
    if (owner == XCB_WINDOW_NONE)
        return snap;
    if (ours && owner == ours->window)
        return ours->offered();
    QElapsedTimer clock;
    clock.start();
    constexpr int budget = X11DesktopAutomation::snapshotBudgetMs;
    const QList<QByteArray> targets = x.targets(clock, budget);
    if (targets.isEmpty()) {
        snap.complete = false; // something is owned, but what could not be asked
        return snap;
    }
    snap.listsTimestamp = targets.contains("TIMESTAMP");
    static const QSet<QByteArray> meta{"TARGETS", "MULTIPLE", "TIMESTAMP", "SAVE_TARGETS", "DELETE",
                                       "INSERT_SELECTION", "INSERT_PROPERTY", "ATOM_PAIR", "INCR"};
    ClipboardDataWriter writer;
    qint64 total = 0;
    for (const QByteArray& name : targets) {
        if (meta.contains(name))
            continue;
        const qint64 room = X11DesktopAutomation::maxSnapshotBytes - total;
        if (snap.items.size() >= X11DesktopAutomation::maxTargets || room <= 0 || clock.elapsed() >= budget) {
            snap.complete = false;
            break;
        }
        bool kept = true;
        const auto data = x.fetch(x.atom(name), room, clock, budget, [&](const QByteArray& piece) {
            return kept = writer.append(piece.constData(), piece.size());
        });
        if (data && kept) {
            const ClipboardData bytes = writer.finish();
            total += bytes.size();
            snap.items.append({name, data->type, data->format, bytes});
        } else {
            // Refused as too large, the owner too slow, or no room to keep it: a target left out.
            writer.drop();
            snap.complete = false;
        }
    }
    return snap;
}

} // namespace

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
    // Snapshots under way read our owner's offer: they end first.
    d->cancel->store(true);
    for (QFuture<void>& snapshot : d->snapshots)
        snapshot.waitForFinished();
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

void X11DesktopAutomation::snapshotClipboard(QObject* context, SnapshotDone done)
{
    if (!d->ok() || !owner_->ok()) {
        done({});
        return;
    }
    d->snapshots.removeIf([](const QFuture<void>& f) { return f.isFinished(); });
    // An owner may answer slowly, or in many pieces: never on the GUI thread.
    const xcbsupport::SelectionOwner* ours = &owner_->state;
    d->snapshots.append(QFuture<void>(runSlowThen(
        context, [cancel = d->cancel, ours] { return readClipboard(cancel, ours); },
        [done = std::move(done)](const ClipboardSnapshot& snap) { done(snap); })));
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
