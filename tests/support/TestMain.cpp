#include <QApplication>
#include <QFont>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_QPA_FONTDIR", "/usr/share/fonts/truetype/dejavu");
    QApplication app(argc, argv);
    QApplication::setFont(QFont("DejaVu Sans", 12));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
