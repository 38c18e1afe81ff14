#include "platform/RunningApps.h"
#include "core/Paths.h"
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

    QByteArray bytes(xcb_window_t window, xcb_atom_t property, uint32_t maxBytes)
    {
        auto cookie = xcb_get_property(conn_, 0, window, property, XCB_ATOM_STRING, 0, (maxBytes + 3) / 4);
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

std::optional<RunningApplication> appOf(Connection& x, xcb_window_t window, xcb_atom_t pidAtom,
                                        const QStringList& dataDirs, QHash<QString, QString>& idCache)
{
    const QString windowClass = runningapps::windowClassFrom(x.bytes(window, XCB_ATOM_WM_CLASS, maxClassBytes));
    if (windowClass.isEmpty())
        return std::nullopt;
    RunningApplication app;
    app.windowClass = windowClass;
    auto cached = idCache.constFind(windowClass);
    if (cached == idCache.constEnd())
        cached = idCache.insert(windowClass, runningapps::desktopIDForClass(windowClass, dataDirs));
    app.desktopID = *cached;
    const QList<uint32_t> pid = x.cardinals(window, pidAtom, XCB_ATOM_CARDINAL, 1);
    if (!pid.isEmpty())
        app.pid = pid.first();
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
    const QStringList dataDirs = runningapps::xdgDataDirs();
    QHash<QString, QString> idCache;
    QSet<QString> seen;
    for (uint32_t window : x.cardinals(x.root(), clientList, XCB_ATOM_WINDOW, maxClientWindows)) {
        std::optional<RunningApplication> app = appOf(x, window, pidAtom, dataDirs, idCache);
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
    return appOf(x, active.first(), x.atom("_NET_WM_PID"), runningapps::xdgDataDirs(), idCache);
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

QString desktopIDForClass(const QString& windowClass, const QStringList& dataDirs)
{
    if (windowClass.isEmpty() || windowClass.contains(QLatin1Char('/')))
        return windowClass;
    const QStringList candidates{windowClass + QStringLiteral(".desktop"),
                                 windowClass.toLower() + QStringLiteral(".desktop")};
    for (const QString& candidate : candidates) {
        for (const QString& dir : dataDirs) {
            if (QFileInfo(dir + QStringLiteral("/applications/") + candidate).isFile())
                return candidate;
        }
    }
    return windowClass;
}

QStringList xdgDataDirs()
{
    QStringList dirs{paths::dataHome()};
    const QString system = qEnvironmentVariable("XDG_DATA_DIRS");
    const QStringList listed = system.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    dirs += listed.isEmpty() ? QStringList{QStringLiteral("/usr/local/share"), QStringLiteral("/usr/share")}
                             : listed;
    return dirs;
}

} // namespace runningapps

} // namespace lomex
