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

// Renderings are kept for reuse: a second colour or scale of the same symbol must not get the first.
TEST(Symbols, ColourAndScaleEachGetTheirOwnRendering) {
    auto hasPixel = [](const QPixmap& pm, auto pred) {
        const QImage img = pm.toImage().convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                if (qAlpha(img.pixel(x, y)) > 200 && pred(img.pixel(x, y))) return true;
        return false;
    };
    const QPixmap red = symbols::pixmap("plus", 24, QColor(255, 0, 0));
    const QPixmap blue = symbols::pixmap("plus", 24, QColor(0, 0, 255));
    EXPECT_TRUE(hasPixel(red, [](QRgb c) { return qRed(c) > 200 && qBlue(c) < 40; }));
    EXPECT_TRUE(hasPixel(blue, [](QRgb c) { return qBlue(c) > 200 && qRed(c) < 40; }));
    EXPECT_FALSE(hasPixel(blue, [](QRgb c) { return qRed(c) > 200; }));
    const QPixmap sharp = symbols::pixmap("plus", 24, QColor(255, 0, 0), 2.0);
    EXPECT_EQ(sharp.size(), QSize(48, 48));
    EXPECT_EQ(sharp.devicePixelRatio(), 2.0);
    EXPECT_EQ(symbols::pixmap("plus", 24, QColor(255, 0, 0)).size(), QSize(24, 24));
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
