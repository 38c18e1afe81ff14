#include "TestEnv.h"
#include "platform/Clipboard.h"
#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QMimeData>

using namespace lomex;

namespace {

QByteArray encoded(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(image.save(&buffer, format)) << format;
    return bytes;
}

QImage picture(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    return image;
}

const QByteArray kSvg = "<?xml version='1.0'?><svg xmlns='http://www.w3.org/2000/svg' width='6000' height='6000'>"
                        "<rect width='6000' height='6000' fill='teal' fill-opacity='0.5'/></svg>";

} // namespace

// Only raster images with their size in their first bytes are taken, and their size is read
// from there; anything else, drawings above all, has no header and is never decoded.
TEST(ClipboardImageTest, RasterHeadersGiveFormatAndSizeAndNothingElseHasOne) {
    // A 3x2 GIF: Qt writes none.
    const QByteArray gif = QByteArray::fromBase64("R0lGODlhAwACAIAAAAAAAP///ywAAAAAAwACAAACAoRRADs=");
    QByteArray hugePng = encoded(picture(4, 4), "png");
    hugePng[16] = 0x00, hugePng[17] = 0x01, hugePng[18] = 0x00, hugePng[19] = 0x00; // 65536 wide
    hugePng[20] = 0x00, hugePng[21] = 0x01, hugePng[22] = 0x00, hugePng[23] = 0x00; // 65536 high
    const struct Case {
        const char* name;
        QByteArray data;
        QByteArray format;
        QSize size;
    } cases[] = {
        {"PNG", encoded(picture(31, 17), "png"), "png", {31, 17}},
        {"JPEG", encoded(picture(40, 30), "jpeg"), "jpeg", {40, 30}},
        {"BMP", encoded(picture(7, 5), "bmp"), "bmp", {7, 5}},
        {"GIF", gif, "gif", {3, 2}},
        {"a PNG header claiming 65536x65536", hugePng, "png", {65536, 65536}},
        {"SVG", kSvg, {}, {}},
        {"gzip", QByteArray("\x1f\x8b\x08\x00", 4) + QByteArray(40, '\0'), {}, {}},
        {"text", QByteArray(64, 'a'), {}, {}},
        {"a PNG cut after its signature", encoded(picture(4, 4), "png").left(12), {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto header = clipboard::rasterHeader(c.data);
        EXPECT_EQ(header.has_value(), !c.format.isEmpty());
        if (!header) continue;
        EXPECT_EQ(header->format, c.format);
        EXPECT_EQ(header->size, c.size);
    }
    ClipboardLimits limits;
    EXPECT_EQ(clipboard::decodeRaster(cases[0].data, limits).size(), QSize(31, 17));
    EXPECT_EQ(clipboard::decodeRaster(gif, limits).size(), QSize(3, 2));
    EXPECT_TRUE(clipboard::decodeRaster(hugePng, limits).isNull()) << "over the pixel cap by its header alone";
    EXPECT_TRUE(clipboard::decodeRaster(kSvg, limits).isNull());
}

TEST(ClipboardImageTest, TheRasterTypeIsChosenAndVectorTypesNever) {
    const bool webp = QImageReader::supportedImageFormats().contains("webp");
    const struct Case {
        QStringList offered;
        QByteArray chosen;
    } cases[] = {
        {{"image/svg+xml"}, ""},
        {{"image/svg+xml-compressed"}, ""},
        {{"image/svg+xml", "image/svg+xml-compressed", "text/plain"}, ""},
        {{"image/svg+xml", "image/bmp"}, "image/bmp"},
        {{"image/bmp", "image/jpeg", "image/png"}, "image/png"},
        {{"image/gif", "image/jpeg"}, "image/jpeg"},
        {{"image/webp", "image/gif"}, webp ? "image/webp" : "image/gif"},
        {{"image/x-portable-pixmap", "image/tiff"}, ""},
    };
    for (const Case& c : cases) EXPECT_EQ(clipboard::rasterTarget(c.offered), c.chosen) << c.offered.join(',').toStdString();
}

// A decode that runs past its time or is cancelled gives no image, not a part of one.
TEST(ClipboardImageTest, ADecodePastItsBudgetOrCancelledGivesNothing) {
    const QByteArray png = encoded(picture(1200, 900), "png");
    const QByteArray jpeg = encoded(picture(1200, 900), "jpeg");
    for (const QByteArray& data : {png, jpeg}) {
        ClipboardLimits limits;
        EXPECT_EQ(clipboard::decodeRaster(data, limits).size(), QSize(1200, 900));
        limits.decodeBudgetMs = -1;
        EXPECT_TRUE(clipboard::decodeRaster(data, limits).isNull());
        ClipboardLimits cancelled;
        cancelled.cancel = std::make_shared<std::atomic<bool>>(true);
        EXPECT_TRUE(clipboard::decodeRaster(data, cancelled).isNull());
    }
}

// Off X11 the bundle is read through Qt: its image, too, only from a raster type.
TEST(ClipboardImageTest, ABundleGivesItsImageOnlyFromARasterType) {
    QMimeData drawing;
    drawing.setData("image/svg+xml", kSvg);
    drawing.setText("caption");
    const ClipboardContent fromDrawing = clipboard::contentFrom(drawing);
    EXPECT_TRUE(fromDrawing.image.isNull());
    EXPECT_EQ(fromDrawing.text, "caption");

    QMimeData both;
    both.setData("image/svg+xml", kSvg);
    both.setData("image/png", encoded(picture(5, 4), "png"));
    EXPECT_EQ(clipboard::contentFrom(both).image.size(), QSize(5, 4));

    QMimeData ours;
    ours.setImageData(picture(3, 3));
    EXPECT_EQ(clipboard::contentFrom(ours).image.size(), QSize(3, 3));
}
