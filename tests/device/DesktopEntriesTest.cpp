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
