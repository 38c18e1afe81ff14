#include "X11Desktop.h"
#include <QApplication>
#include <QFont>
#include <gtest/gtest.h>
#include <cstring>

// These tests need a real X server and window manager: the process starts its own private
// pair before Qt connects, and Qt runs on the xcb platform against it.
int main(int argc, char** argv) {
    qputenv("QT_QPA_FONTDIR", "/usr/share/fonts/truetype/dejavu");
    bool listing = false;
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--gtest_list_tests", 18) == 0) listing = true;
    if (listing) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        ::testing::InitGoogleTest(&argc, argv);
        return RUN_ALL_TESTS();
    }
    lomex::test::X11Desktop desktop;
    if (desktop.start(QStringLiteral("3840x1200"))) {
        qputenv("DISPLAY", desktop.display().toUtf8());
        qputenv("QT_QPA_PLATFORM", "xcb");
        lomex::test::X11Desktop::setCurrent(&desktop);
    } else {
        qputenv("QT_QPA_PLATFORM", "offscreen"); // the tests skip themselves
    }
    QApplication app(argc, argv);
    QApplication::setFont(QFont("DejaVu Sans", 12));
    if (lomex::test::X11Desktop::current() && !desktop.waitForManager()) lomex::test::X11Desktop::setCurrent(nullptr);
    ::testing::InitGoogleTest(&argc, argv);
    const int rc = RUN_ALL_TESTS();
    lomex::test::X11Desktop::setCurrent(nullptr);
    desktop.stopHelpers();
    return rc;
}
