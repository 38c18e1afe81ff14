#include "TestEnv.h"
#include "platform/DesktopEntries.h"
#include "platform/RunningApps.h"
#include <QCoreApplication>
#include <QFileInfo>

using namespace lomex;

TEST(DesktopEntriesTest, NameFollowsTheLanguageAndOnlyTheMainGroupCounts) {
    const QByteArray file = "# comment\n"
                            "[Desktop Entry]\n"
                            "Type=Application\n"
                            "Name=Text\\sEditor.app tools\n"
                            "Name[cs]=Textový editor\n"
                            "Icon=org.gnome.TextEditor\n"
                            "[Desktop Action new]\n"
                            "Name=New Window\n";
    auto en = desktopentry::parse(file, "en");
    ASSERT_TRUE(en);
    EXPECT_EQ(en->name, "Text Editor.app tools") << "nothing is stripped from a name";
    EXPECT_EQ(en->iconName, "org.gnome.TextEditor");
    EXPECT_EQ(desktopentry::parse(file, "cs-CZ")->name, "Textový editor");
    EXPECT_FALSE(desktopentry::parse("Name=x\n", "en"));
}

TEST(DesktopEntriesTest, FindsIdsInTheApplicationsFoldersAndRefusesPaths) {
    test::TempHome home;
    home.write("share/applications/kde/dolphin.desktop", "[Desktop Entry]\nName=Dolphin\n");
    home.write("share/applications/org.x.App.desktop", "[Desktop Entry]\nName=X\n");
    home.write("secret.desktop", "[Desktop Entry]\nName=Outside\n");
    const QStringList dirs{home.file("share")};
    EXPECT_EQ(desktopentry::find("org.x.App.desktop", "en", dirs)->name, "X");
    EXPECT_EQ(desktopentry::find("kde-dolphin.desktop", "en", dirs)->name, "Dolphin");
    EXPECT_EQ(desktopentry::find("kde-dolphin.desktop", "en", dirs)->id, "kde-dolphin.desktop");
    EXPECT_FALSE(desktopentry::find("missing.desktop", "en", dirs));
    EXPECT_FALSE(desktopentry::find("../../secret.desktop", "en", dirs));
    EXPECT_FALSE(desktopentry::find("org.x.App", "en", dirs));
}

// A window's application is found however it names itself: its Flatpak or GTK application id,
// the StartupWMClass of an entry, or the file name of its class.
TEST(DesktopEntriesTest, WindowsAreMatchedToTheirEntries) {
    test::TempHome home;
    home.write("user/applications/org.gnome.TextEditor.desktop", "[Desktop Entry]\nName=Text Editor\n");
    home.write("user/applications/com.spotify.Client.desktop", "[Desktop Entry]\nName=Spotify\nStartupWMClass=spotify\n");
    home.write("user/applications/kde/okular.desktop", "[Desktop Entry]\nName=Okular\nStartupWMClass=Okular\n");
    home.write("user/applications/old.desktop", "[Desktop Entry]\nName=Old\nStartupWMClass=Retired\nHidden=true\n");
    home.write("user/applications/code.desktop", "[Desktop Entry]\nName=Code\n");
    home.write("system/applications/okular-late.desktop", "[Desktop Entry]\nStartupWMClass=Okular\n");
    home.write("system/applications/kde-okular.desktop", "[Desktop Entry]\nName=Overridden\n");
    const QStringList dirs{home.file("user"), home.file("system")};
    using W = runningapps::WindowIdentity;
    const struct {
        W window;
        const char* id;
    } cases[] = {
        {{"Gnome-text-editor", "gnome-text-editor", "org.gnome.TextEditor", ""}, "org.gnome.TextEditor.desktop"},
        {{"Spotify", "spotify", "", "com.spotify.Client"}, "com.spotify.Client.desktop"},
        {{"Spotify", "spotify", "", ""}, "com.spotify.Client.desktop"},          // StartupWMClass = instance
        {{"Okular", "okular", "", ""}, "kde-okular.desktop"},                    // a subfolder's id
        {{"Retired", "retired", "", ""}, "Retired"},                              // hidden entry
        {{"Code", "code", "org.not.Installed", ""}, "code.desktop"},              // lower-cased class
        {{"Unknown", "unknown", "", "../../etc/passwd"}, "Unknown"},
        {{"", "", "", ""}, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(runningapps::desktopIDFor(c.window, dirs), c.id) << c.window.windowClass.toStdString();
}

// The entries of packages installed here: xterm and uxterm declare their classes.
TEST(DesktopEntriesTest, InstalledXtermEntriesAreFoundByTheirClass) {
    if (!QFileInfo::exists("/usr/share/applications/debian-xterm.desktop")) GTEST_SKIP() << "xterm is not installed";
    const QStringList dirs{"/usr/share"};
    EXPECT_EQ(runningapps::desktopIDFor({"XTerm", "xterm", "", ""}, dirs), "debian-xterm.desktop");
    EXPECT_EQ(runningapps::desktopIDFor({"UXTerm", "xterm", "", ""}, dirs), "debian-uxterm.desktop");
    EXPECT_EQ(runningapps::desktopIDForClass("XTerm", dirs), "debian-xterm.desktop");
    const auto entry = desktopentry::find("debian-xterm.desktop", "en", dirs);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->name, "XTerm");
}

TEST(DesktopEntriesTest, FlatpakInfoNamesTheApplication) {
    EXPECT_EQ(runningapps::flatpakIDFrom("[Application]\nname=org.gnome.Calculator\nruntime=x\n"), "org.gnome.Calculator");
    EXPECT_EQ(runningapps::flatpakIDFrom("[Runtime]\nname=org.gnome.Platform\n"), "");
    EXPECT_EQ(runningapps::flatpakIDFrom(""), "");
    EXPECT_EQ(runningapps::flatpakIDOf(QCoreApplication::applicationPid()), "") << "not in a sandbox";
}
