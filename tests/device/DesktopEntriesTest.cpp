#include "TestEnv.h"
#include "platform/DesktopEntries.h"

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
    auto en = desktopentries::parse(file, "en");
    ASSERT_TRUE(en);
    EXPECT_EQ(en->name, "Text Editor.app tools") << "nothing is stripped from a name";
    EXPECT_EQ(en->iconName, "org.gnome.TextEditor");
    EXPECT_EQ(desktopentries::parse(file, "cs-CZ")->name, "Textový editor");
    EXPECT_FALSE(desktopentries::parse("Name=x\n", "en"));
}

TEST(DesktopEntriesTest, FindsIdsInTheApplicationsFoldersAndRefusesPaths) {
    test::TempHome home;
    home.write("share/applications/kde/dolphin.desktop", "[Desktop Entry]\nName=Dolphin\n");
    home.write("share/applications/org.x.App.desktop", "[Desktop Entry]\nName=X\n");
    home.write("secret.desktop", "[Desktop Entry]\nName=Outside\n");
    const QStringList dirs{home.file("share")};
    EXPECT_EQ(desktopentries::find("org.x.App.desktop", "en", dirs)->name, "X");
    EXPECT_EQ(desktopentries::find("kde-dolphin.desktop", "en", dirs)->name, "Dolphin");
    EXPECT_EQ(desktopentries::find("kde-dolphin.desktop", "en", dirs)->id, "kde-dolphin.desktop");
    EXPECT_FALSE(desktopentries::find("missing.desktop", "en", dirs));
    EXPECT_FALSE(desktopentries::find("../../secret.desktop", "en", dirs));
    EXPECT_FALSE(desktopentries::find("org.x.App", "en", dirs));
}
