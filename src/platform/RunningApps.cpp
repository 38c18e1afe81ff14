#include "platform/RunningApps.h"
#include "core/FileIO.h"
#include "core/Paths.h"
#include "platform/DesktopEntries.h"
#include "platform/XcbSupport.h"

#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <xcb/xcb.h>

namespace lomex {

namespace {

std::atomic<RunningApps*> installed{nullptr};

using xcbsupport::Reply;
using xcbsupport::maxClientWindows;

// Cap on what another client may put into a property we read.
constexpr uint32_t maxClassBytes = 1024;
// A sandbox's info file is a few lines.
constexpr qint64 maxFlatpakInfoBytes = 64 * 1024;

class Connection {
public:
    Connection()
    {
        const char* display = std::getenv("DISPLAY");
        if (!display || !*display)
            return;
        int screen = 0;
        conn_ = xcb_connect(display, &screen);
        if (xcb_connection_has_error(conn_)) {
            xcb_disconnect(conn_);
            conn_ = nullptr;
            return;
        }
        const xcb_setup_t* setup = xcb_get_setup(conn_);
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(setup);
        for (int i = 0; i < screen && it.rem; ++i)
            xcb_screen_next(&it);
        if (it.rem)
            root_ = it.data->root;
    }
    ~Connection()
    {
        if (conn_)
            xcb_disconnect(conn_);
    }
    bool ok() const { return conn_ && root_; }

    xcb_atom_t atom(const char* name)
    {
        auto cookie = xcb_intern_atom(conn_, 1, uint16_t(std::strlen(name)), name);
        Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(conn_, cookie, nullptr));
        return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    }

    QList<uint32_t> cardinals(xcb_window_t window, xcb_atom_t property, xcb_atom_t type, uint32_t maxItems)
    {
        return xcbsupport::cardinals(conn_, window, property, type, maxItems);
    }

    // A text property of type STRING, or of any type (UTF8_STRING) with XCB_GET_PROPERTY_TYPE_ANY.
    QByteArray bytes(xcb_window_t window, xcb_atom_t property, uint32_t maxBytes, xcb_atom_t type = XCB_ATOM_STRING)
    {
        auto cookie = xcb_get_property(conn_, 0, window, property, type, 0, (maxBytes + 3) / 4);
        Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(conn_, cookie, nullptr));
        if (!reply || reply->format != 8)
            return {};
        return QByteArray(static_cast<const char*>(xcb_get_property_value(reply.get())),
                          xcb_get_property_value_length(reply.get()));
    }

    xcb_window_t root() const { return root_; }

private:
    xcb_connection_t* conn_ = nullptr;
    xcb_window_t root_ = 0;
};

std::optional<RunningApplication> appOf(Connection& x, xcb_window_t window, xcb_atom_t pidAtom, xcb_atom_t gtkAtom,
                                        const QStringList& dataDirs, QHash<QString, QString>& idCache)
{
    const QByteArray wmClass = x.bytes(window, XCB_ATOM_WM_CLASS, maxClassBytes);
    runningapps::WindowIdentity identity;
    identity.windowClass = runningapps::windowClassFrom(wmClass);
    if (identity.windowClass.isEmpty())
        return std::nullopt;
    identity.instance = runningapps::windowInstanceFrom(wmClass);
    if (gtkAtom != XCB_ATOM_NONE)
        identity.gtkAppID = QString::fromUtf8(x.bytes(window, gtkAtom, maxClassBytes, XCB_GET_PROPERTY_TYPE_ANY));
    RunningApplication app;
    app.windowClass = identity.windowClass;
    const QList<uint32_t> pid = x.cardinals(window, pidAtom, XCB_ATOM_CARDINAL, 1);
    if (!pid.isEmpty())
        app.pid = pid.first();
    if (app.pid > 0)
        identity.flatpakID = runningapps::flatpakIDOf(app.pid);
    const QString key = QStringList{identity.windowClass, identity.instance, identity.gtkAppID, identity.flatpakID}.join(QLatin1Char('\n'));
    auto cached = idCache.constFind(key);
    if (cached == idCache.constEnd())
        cached = idCache.insert(key, runningapps::desktopIDFor(identity, dataDirs));
    app.desktopID = *cached;
    return app;
}

} // namespace

RunningApps* RunningApps::current()
{
    if (RunningApps* apps = installed.load())
        return apps;
    static X11RunningApps x11;
    return &x11;
}

void RunningApps::setCurrent(RunningApps* apps)
{
    installed.store(apps);
}

QList<RunningApplication> X11RunningApps::running() const
{
    QList<RunningApplication> apps;
    Connection x;
    if (!x.ok())
        return apps;
    const xcb_atom_t clientList = x.atom("_NET_CLIENT_LIST");
    const xcb_atom_t pidAtom = x.atom("_NET_WM_PID");
    const xcb_atom_t gtkAtom = x.atom("_GTK_APPLICATION_ID");
    const QStringList dataDirs = paths::dataDirs();
    QHash<QString, QString> idCache;
    QSet<QString> seen;
    for (uint32_t window : x.cardinals(x.root(), clientList, XCB_ATOM_WINDOW, maxClientWindows)) {
        std::optional<RunningApplication> app = appOf(x, window, pidAtom, gtkAtom, dataDirs, idCache);
        if (!app)
            continue;
        // One entry per application: the same desktop id from the same process is one app.
        const QString key = app->desktopID + QLatin1Char('\n') + QString::number(app->pid);
        if (seen.contains(key))
            continue;
        seen.insert(key);
        apps.append(*app);
    }
    return apps;
}

std::optional<RunningApplication> X11RunningApps::active() const
{
    Connection x;
    if (!x.ok())
        return std::nullopt;
    const QList<uint32_t> active = x.cardinals(x.root(), x.atom("_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW, 1);
    if (active.isEmpty() || active.first() == 0)
        return std::nullopt;
    QHash<QString, QString> idCache;
    return appOf(x, active.first(), x.atom("_NET_WM_PID"), x.atom("_GTK_APPLICATION_ID"), paths::dataDirs(),
                 idCache);
}

namespace runningapps {

QString windowClassFrom(const QByteArray& wmClass)
{
    // "instance\0class\0": the class is the second string.
    const qsizetype firstNul = wmClass.indexOf('\0');
    if (firstNul < 0)
        return QString();
    const QByteArray rest = wmClass.mid(firstNul + 1);
    const qsizetype end = rest.indexOf('\0');
    return QString::fromUtf8(end < 0 ? rest : rest.left(end));
}

QString windowInstanceFrom(const QByteArray& wmClass)
{
    const qsizetype firstNul = wmClass.indexOf('\0');
    return firstNul < 0 ? QString() : QString::fromUtf8(wmClass.left(firstNul));
}

QString desktopIDFor(const WindowIdentity& window, const QStringList& dataDirs)
{
    const auto installed = [&](const QString& name) {
        if (name.isEmpty() || name.contains(QLatin1Char('/')) || name.startsWith(QLatin1Char('.')))
            return false;
        for (const QString& dir : dataDirs) {
            if (QFileInfo(dir + QStringLiteral("/applications/") + name).isFile())
                return true;
        }
        return false;
    };
    // What the toolkit or the sandbox says is surest; then what the entries declare.
    for (const QString& appID : {window.flatpakID, window.gtkAppID}) {
        if (!appID.isEmpty() && installed(appID + QStringLiteral(".desktop")))
            return appID + QStringLiteral(".desktop");
    }
    if (window.windowClass.isEmpty())
        return window.windowClass;
    const QHash<QString, QString> declared = desktopentry::startupWMClasses(dataDirs);
    for (const QString& name : {window.windowClass, window.instance}) {
        if (!name.isEmpty() && declared.contains(name))
            return declared.value(name);
    }
    for (const QString& candidate : {window.windowClass + QStringLiteral(".desktop"),
                                     window.windowClass.toLower() + QStringLiteral(".desktop")}) {
        if (installed(candidate))
            return candidate;
    }
    return window.windowClass;
}

QString desktopIDForClass(const QString& windowClass, const QStringList& dataDirs)
{
    return desktopIDFor(WindowIdentity{windowClass, {}, {}, {}}, dataDirs);
}

QString flatpakIDFrom(const QByteArray& flatpakInfo)
{
    bool inApplication = false;
    for (const QByteArray& raw : flatpakInfo.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.startsWith('[')) {
            inApplication = line == "[Application]";
            continue;
        }
        if (inApplication && line.startsWith("name="))
            return QString::fromUtf8(line.mid(5).trimmed());
    }
    return QString();
}

QString flatpakIDOf(qint64 pid)
{
    if (pid <= 0)
        return QString();
    // Inside the sandbox its root holds the info file; outside one there is none.
    const auto info = fileio::readRegularFile(QStringLiteral("/proc/%1/root/.flatpak-info").arg(pid), maxFlatpakInfoBytes);
    return info ? flatpakIDFrom(*info) : QString();
}

} // namespace runningapps

} // namespace lomex
