#include "TestEnv.h"
#include "X11Desktop.h"
#include "app/StatusMenu.h"
#include <QFile>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QGuiApplication>
#include <cstring>
#include <xcb/xcb.h>

using namespace lomex;

namespace {

// A top panel with a system tray (XEmbed) in the given background colour.
QByteArray panelConfig(const char* background) {
    return QByteArray(R"(panel_items = S
panel_position = top right horizontal
panel_size = 200 30
background_color = )") + background + R"( 100
border_width = 0
panel_background_id = 1
systray_background_id = 1
systray_padding = 2 2 4
systray_icon_size = 22
)";
}

} // namespace

// The icon is drawn dark on a light tray and light on a dark one, and a left click on it opens
// its menu.
TEST(TrayIconTest, TheIconStandsOutOnTheTrayAndALeftClickOpensTheMenu) {
    test::TempHome home;
    test::X11Desktop* desktop = test::X11Desktop::current();
    if (!desktop) GTEST_SKIP() << "no private X server with openbox (Xvfb and openbox are in scripts/bootstrap)";
    const struct {
        const char* background;
        QColor expected;
    } cases[] = {{"#EEEEEE", Qt::black}, {"#202020", Qt::white}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.background);
        const QString config = home.write(QString("tint2-%1.rc").arg(c.background + 1), panelConfig(c.background));
        QProcess* tray = desktop->spawn("tint2", {"-c", config});
        ASSERT_TRUE(test::waitUntil([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 5000));
        {
            StatusMenu menu;
            menu.rebuild();
            menu.show();
            // The icon sits in the tray at the right end of the panel once the tray has taken it.
            QRect icon;
            ASSERT_TRUE(test::waitUntil([&] { return (icon = menu.geometry()).x() > 1000; }, 5000));
            EXPECT_TRUE(test::waitUntil([&] { return menu.iconColor() == c.expected; }, 5000))
                << menu.iconColor().name().toStdString();
            EXPECT_TRUE(menu.available());
            test::waitUntil([] { return false; }, 300); // the tray settles its layout
            icon = menu.geometry();
            desktop->run("xdotool", {"mousemove", QString::number(icon.center().x()), QString::number(icon.center().y()), "click", "1"});
            EXPECT_TRUE(test::waitUntil([&] { return menu.menu()->isVisible(); }, 3000));
            menu.menu()->hide();
        }
        tray->kill();
        tray->waitForFinished(2000);
        ASSERT_TRUE(test::waitUntil([] { return !QSystemTrayIcon::isSystemTrayAvailable(); }, 5000));
    }
}

namespace {

// The window that owns the tray selection now (0 for none).
quint32 trayOwner() {
    xcb_connection_t* c = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
    const char* name = "_NET_SYSTEM_TRAY_S0";
    xcb_intern_atom_reply_t* a = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(strlen(name)), name), nullptr);
    if (!a) return 0;
    xcb_get_selection_owner_reply_t* r = xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, a->atom), nullptr);
    free(a);
    const quint32 owner = r ? r->owner : 0;
    free(r);
    return owner;
}

} // namespace

// The icon follows the tray without its menu being opened: a tray that announces other colours,
// and a light tray that takes the place of a dark one.
TEST(TrayIconTest, TheIconFollowsATrayThatChangesItsColours) {
    test::TempHome home;
    test::X11Desktop* desktop = test::X11Desktop::current();
    if (!desktop) GTEST_SKIP() << "no private X server with openbox (Xvfb and openbox are in scripts/bootstrap)";
    QProcess* dark = desktop->spawn("tint2", {"-c", home.write("dark.rc", panelConfig("#202020"))});
    ASSERT_TRUE(test::waitUntil([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 5000));
    StatusMenu menu;
    menu.rebuild();
    menu.show();
    ASSERT_TRUE(test::waitUntil([&] { return menu.shownColor() == QColor(Qt::white); }, 5000));
    test::waitUntil([] { return false; }, 2000); // past the looks that follow showing

    // The tray announces a dark foreground.
    const quint32 owner = trayOwner();
    ASSERT_NE(owner, 0u);
    desktop->run("xprop", {"-id", QString::number(owner), "-f", "_NET_SYSTEM_TRAY_COLORS", "32cccccccccccc", "-set",
                           "_NET_SYSTEM_TRAY_COLORS", "4369,4369,4369,0,0,0,0,0,0,0,0,0"});
    EXPECT_TRUE(test::waitUntil([&] { return menu.shownColor() == QColor(17, 17, 17); }, 3000))
        << menu.shownColor().name().toStdString() << " "
        << desktop->run("xprop", {"-id", QString::number(owner), "_NET_SYSTEM_TRAY_COLORS"}).toStdString();

    // Another, light tray replaces it.
    dark->kill();
    dark->waitForFinished(2000);
    ASSERT_TRUE(test::waitUntil([] { return !QSystemTrayIcon::isSystemTrayAvailable(); }, 5000));
    QProcess* light = desktop->spawn("tint2", {"-c", home.write("light.rc", panelConfig("#EEEEEE"))});
    EXPECT_TRUE(test::waitUntil([&] { return menu.shownColor() == QColor(Qt::black); }, 5000))
        << menu.shownColor().name().toStdString();
    EXPECT_FALSE(menu.menu()->isVisible());
    light->kill();
    light->waitForFinished(2000);
}
