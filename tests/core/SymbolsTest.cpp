#include "ui/Symbols.h"
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace lomex;

namespace {
int opaquePixels(const QPixmap& pm) {
    const QImage img = pm.toImage().convertToFormat(QImage::Format_ARGB32);
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) n += qAlpha(img.pixel(x, y)) > 0;
    return n;
}
} // namespace

TEST(Symbols, EveryMappedNameRendersItsBundledFileInTheGivenColour) {
    for (const QString& name : symbols::knownNames()) {
        ASSERT_TRUE(QFile::exists(symbols::resourcePath(name))) << name.toStdString();
        const QPixmap pm = symbols::pixmap(name, 24, QColor(255, 0, 0));
        EXPECT_GT(opaquePixels(pm), 10) << name.toStdString();
        const QImage img = pm.toImage();
        bool red = false;
        for (int y = 0; y < img.height() && !red; ++y)
            for (int x = 0; x < img.width() && !red; ++x)
                red = qAlpha(img.pixel(x, y)) > 200 && qRed(img.pixel(x, y)) > 200 && qGreen(img.pixel(x, y)) < 40;
        EXPECT_TRUE(red) << name.toStdString();
    }
}

TEST(Symbols, UnknownNameGivesAFallbackGlyph) {
    EXPECT_FALSE(symbols::hasSymbol("no.such.symbol"));
    EXPECT_GT(opaquePixels(symbols::pixmap("no.such.symbol", 24, Qt::white)), 10);
    EXPECT_FALSE(symbols::icon("no.such.symbol").isNull());
}

// Every symbol name the source hands to the icon functions, or keeps in a table of
// symbol names marked "symbol", must be bundled.
TEST(Symbols, EveryNameUsedInTheSourceIsBundled) {
    const QRegularExpression call(R"(symbols::(?:pixmap|icon)\(\s*(?:QStringLiteral\()?"([^"]+)\")");
    const QRegularExpression symbolLiteral(R"(symbol\w*\W{1,12}(?:QStringLiteral\()?"([a-z0-9]+(?:\.[a-z0-9]+)*)\")",
                                           QRegularExpression::CaseInsensitiveOption);
    QStringList missing;
    int seen = 0;
    QDirIterator it(QStringLiteral(LOMEX_SOURCE_DIR "/src"), {"*.cpp", "*.h"}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path.endsWith("/ui/Symbols.cpp")) continue;
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) continue;
        const QString text = QString::fromUtf8(f.readAll());
        for (const auto& re : {call, symbolLiteral}) {
            auto m = re.globalMatch(text);
            while (m.hasNext()) {
                const QString name = m.next().captured(1);
                ++seen;
                if (!symbols::hasSymbol(name)) missing << name + " (" + path.section('/', -2) + ")";
            }
        }
    }
    EXPECT_TRUE(missing.isEmpty()) << missing.join(", ").toStdString();
    (void)seen;
}
