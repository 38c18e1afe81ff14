#include "TestEnv.h"
#include "XvfbDisplay.h"
#include "platform/RunningApps.h"

#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <cstring>
#include <gtest/gtest.h>
#include <xcb/xcb.h>

using namespace lomex;

namespace {

// A private Xvfb server with a few windows that announce themselves the way a window
// manager and toolkits would: the root's client list and active window, each window's
// WM_CLASS and _NET_WM_PID.
class XServer {
public:
    bool start()
    {
        // The server picks a free display itself: a number guessed from /tmp can be taken by
        // another test program between the look and the start, and we would talk to its server.
        if (!server_.start())
            return false;
        for (int i = 0; i < 100; ++i) {
            conn_ = xcb_connect(server_.name().toLatin1().constData(), nullptr);
            if (!xcb_connection_has_error(conn_))
                break;
            xcb_disconnect(conn_);
            conn_ = nullptr;
            QThread::msleep(50);
        }
        if (!conn_)
            return false;
        root_ = xcb_setup_roots_iterator(xcb_get_setup(conn_)).data->root;
        return true;
    }
    ~XServer()
    {
        if (conn_)
            xcb_disconnect(conn_);
    }
    QString display() const { return server_.name(); }

    xcb_atom_t atom(const char* name)
    {
        auto reply = xcb_intern_atom_reply(conn_, xcb_intern_atom(conn_, 0, uint16_t(strlen(name)), name), nullptr);
        const xcb_atom_t a = reply->atom;
        free(reply);
        return a;
    }

    xcb_window_t window(const QByteArray& wmClass, std::optional<uint32_t> pid)
    {
        const xcb_window_t w = xcb_generate_id(conn_);
        xcb_create_window(conn_, XCB_COPY_FROM_PARENT, w, root_, 0, 0, 10, 10, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_change_property(conn_, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                            uint32_t(wmClass.size()), wmClass.constData());
        if (pid)
            xcb_change_property(conn_, XCB_PROP_MODE_REPLACE, w, atom("_NET_WM_PID"), XCB_ATOM_CARDINAL, 32, 1, &*pid);
        return w;
    }

    // A toolkit's text property (UTF8_STRING), such as _GTK_APPLICATION_ID.
    void text(xcb_window_t w, const char* name, const QByteArray& value)
    {
        xcb_change_property(conn_, XCB_PROP_MODE_REPLACE, w, atom(name), atom("UTF8_STRING"), 8, uint32_t(value.size()),
                            value.constData());
    }

    void announce(const std::vector<xcb_window_t>& clients, xcb_window_t active)
    {
        xcb_change_property(conn_, XCB_PROP_MODE_REPLACE, root_, atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW, 32,
                            uint32_t(clients.size()), clients.data());
        xcb_change_property(conn_, XCB_PROP_MODE_REPLACE, root_, atom("_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW, 32, 1,
                            &active);
        xcb_aux_sync();
    }

    void destroy(xcb_window_t w)
    {
        xcb_destroy_window(conn_, w);
        xcb_aux_sync();
    }

private:
    void xcb_aux_sync()
    {
        free(xcb_get_input_focus_reply(conn_, xcb_get_input_focus(conn_), nullptr));
    }
    test::XvfbDisplay server_;
    xcb_connection_t* conn_ = nullptr;
    xcb_window_t root_ = 0;
};

class EnvVar {
public:
    EnvVar(const char* name, const QByteArray& value) : name_(name)
    {
        if (qEnvironmentVariableIsSet(name))
            saved_ = qgetenv(name);
        qputenv(name, value);
    }
    ~EnvVar()
    {
        if (saved_)
            qputenv(name_, *saved_);
        else
            qunsetenv(name_);
    }

private:
    const char* name_;
    std::optional<QByteArray> saved_;
};

} // namespace

TEST(RunningAppsX11, NoDisplayListsNothing)
{
    EnvVar display("DISPLAY", "");
    X11RunningApps apps;
    EXPECT_TRUE(apps.running().isEmpty());
    EXPECT_EQ(apps.active(), std::nullopt);
}

TEST(RunningAppsX11, ReadsClientsClassesPidsAndTheActiveWindow)
{
    XServer x;
    if (!x.start())
        GTEST_SKIP() << "no Xvfb";
    test::TempHome home;
    home.write(".local/share/applications/code.desktop", "[Desktop Entry]\n");
    home.write(".local/share/applications/com.mitchellh.ghostty.desktop", "[Desktop Entry]\n");
    EnvVar display("DISPLAY", x.display().toLatin1());
    EnvVar dataDirs("XDG_DATA_DIRS", home.file("empty").toUtf8());

    const xcb_window_t code1 = x.window(QByteArray("code\0Code\0", 10), 4242);
    const xcb_window_t code2 = x.window(QByteArray("code\0Code\0", 10), 4242); // a second window, same app
    const xcb_window_t ghostty = x.window(QByteArray("ghostty\0com.mitchellh.ghostty\0", 30), 77);
    const xcb_window_t bare = x.window(QByteArray("xterm\0XTerm\0", 12), std::nullopt);
    const xcb_window_t noClass = x.window(QByteArray(), 5);
    const xcb_window_t gone = x.window(QByteArray("gone\0Gone\0", 10), 6);
    x.destroy(gone); // listed but no longer there: skipped without an error
    x.announce({code1, code2, ghostty, bare, noClass, gone}, ghostty);

    X11RunningApps apps;
    const QList<RunningApplication> running = apps.running();
    ASSERT_EQ(running.size(), 3);
    EXPECT_EQ(running.at(0), (RunningApplication{"code.desktop", "Code", 4242}));
    EXPECT_EQ(running.at(1), (RunningApplication{"com.mitchellh.ghostty.desktop", "com.mitchellh.ghostty", 77}));
    EXPECT_EQ(running.at(2), (RunningApplication{"XTerm", "XTerm", 0}));
    EXPECT_EQ(apps.active(), running.at(1));

    x.announce({code1}, 0);
    EXPECT_EQ(apps.active(), std::nullopt);
    EXPECT_EQ(apps.running().size(), 1);
}

// The applications menu must offer what runs: windows are matched by their GTK application id
// and by the StartupWMClass of an installed entry, not only by "<class>.desktop".
TEST(RunningAppsX11, MatchesGtkIdsAndDeclaredClasses)
{
    XServer x;
    if (!x.start())
        GTEST_SKIP() << "no Xvfb";
    test::TempHome home;
    home.write("share/applications/org.gnome.TextEditor.desktop", "[Desktop Entry]\nName=Text Editor\n");
    home.write("share/applications/debian-xterm.desktop", "[Desktop Entry]\nName=XTerm\nStartupWMClass=XTerm\n");
    EnvVar display("DISPLAY", x.display().toLatin1());
    EnvVar dataDirs("XDG_DATA_DIRS", home.file("share").toUtf8());

    const xcb_window_t editor = x.window(QByteArray("gnome-text-editor\0Gnome-text-editor\0", 36), 10);
    x.text(editor, "_GTK_APPLICATION_ID", "org.gnome.TextEditor");
    const xcb_window_t xterm = x.window(QByteArray("xterm\0XTerm\0", 12), 11);
    x.announce({editor, xterm}, xterm);

    X11RunningApps apps;
    const QList<RunningApplication> running = apps.running();
    ASSERT_EQ(running.size(), 2);
    EXPECT_EQ(running.at(0).desktopID, "org.gnome.TextEditor.desktop");
    EXPECT_EQ(running.at(1).desktopID, "debian-xterm.desktop");
    EXPECT_EQ(apps.active()->desktopID, "debian-xterm.desktop");
}
