#include "platform/Clipboard.h"

#include <QElapsedTimer>
#include <QImageReader>
#include <QMimeData>
#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace lomex {

namespace clipboard {

namespace {

quint32 be16(const QByteArray& d, qsizetype at) { return quint32(quint8(d[at])) << 8 | quint8(d[at + 1]); }
quint32 le16(const QByteArray& d, qsizetype at) { return quint32(quint8(d[at + 1])) << 8 | quint8(d[at]); }
quint32 be32(const QByteArray& d, qsizetype at) { return be16(d, at) << 16 | be16(d, at + 2); }
quint32 le32(const QByteArray& d, qsizetype at) { return le16(d, at + 2) << 16 | le16(d, at); }

// The frame size of a JPEG: the first start-of-frame segment, walking the segments before it.
std::optional<QSize> jpegSize(const QByteArray& d) {
    qsizetype i = 2;
    while (i + 9 < d.size()) {
        if (quint8(d[i]) != 0xFF) return std::nullopt;
        const quint8 marker = quint8(d[i + 1]);
        if (marker == 0xFF) { // fill byte
            ++i;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) { // no length
            i += 2;
            continue;
        }
        const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) return QSize(int(be16(d, i + 7)), int(be16(d, i + 5)));
        if (marker == 0xD9 || marker == 0xDA) return std::nullopt; // image data before any frame
        i += 2 + qsizetype(be16(d, i + 2));
    }
    return std::nullopt;
}

std::optional<QSize> webpSize(const QByteArray& d) {
    if (d.size() < 30 || !d.startsWith("RIFF") || d.mid(8, 4) != "WEBP") return std::nullopt;
    const QByteArray chunk = d.mid(12, 4);
    if (chunk == "VP8 " && quint8(d[23]) == 0x9d && quint8(d[24]) == 0x01 && quint8(d[25]) == 0x2a)
        return QSize(int(le16(d, 26) & 0x3fff), int(le16(d, 28) & 0x3fff));
    if (chunk == "VP8L" && quint8(d[20]) == 0x2f) {
        const quint32 bits = le32(d, 21);
        return QSize(int(bits & 0x3fff) + 1, int((bits >> 14) & 0x3fff) + 1);
    }
    if (chunk == "VP8X")
        return QSize(int(le16(d, 24) | quint32(quint8(d[26])) << 16) + 1,
                     int(le16(d, 27) | quint32(quint8(d[29])) << 16) + 1);
    return std::nullopt;
}

// The image's bytes, read as a device that stops giving them once the decode's time is up or
// the read is cancelled: a decoder then fails at its next read instead of running on. Not a
// QBuffer: decoders read a QBuffer's bytes directly, past any check.
class BudgetDevice : public QIODevice {
public:
    BudgetDevice(const QByteArray& data, const ClipboardLimits& limits) : data_(data), limits_(limits) {
        clock_.start();
    }
    bool isSequential() const override { return false; }
    qint64 size() const override { return data_.size(); }
    bool stopped() const { return stopped_; }

protected:
    qint64 readData(char* data, qint64 maxSize) override {
        if (stopped_ || clock_.elapsed() > limits_.decodeBudgetMs || limits_.cancelled()) {
            stopped_ = true;
            return -1;
        }
        const qint64 n = std::clamp<qint64>(data_.size() - pos(), 0, maxSize);
        std::memcpy(data, data_.constData() + pos(), size_t(n));
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    const QByteArray& data_;
    const ClipboardLimits& limits_;
    QElapsedTimer clock_;
    bool stopped_ = false;
};

} // namespace

std::optional<RasterHeader> rasterHeader(const QByteArray& d) {
    if (d.size() < 30) return std::nullopt;
    std::optional<QSize> size;
    QByteArray format;
    if (d.startsWith("\x89PNG\r\n\x1a\n") && d.mid(12, 4) == "IHDR") {
        format = "png";
        if (be32(d, 16) <= 0x7fffffff && be32(d, 20) <= 0x7fffffff) size = QSize(int(be32(d, 16)), int(be32(d, 20)));
    } else if (quint8(d[0]) == 0xFF && quint8(d[1]) == 0xD8 && quint8(d[2]) == 0xFF) {
        format = "jpeg";
        size = jpegSize(d);
    } else if (d.startsWith("GIF87a") || d.startsWith("GIF89a")) {
        format = "gif";
        size = QSize(int(le16(d, 6)), int(le16(d, 8)));
    } else if (d.startsWith("BM")) {
        format = "bmp";
        if (le32(d, 14) == 12) size = QSize(int(le16(d, 18)), int(le16(d, 20)));
        else size = QSize(std::abs(qint32(le32(d, 18))), std::abs(qint32(le32(d, 22))));
    } else if (d.startsWith("RIFF")) {
        format = "webp";
        size = webpSize(d);
    }
    if (!size || size->isEmpty()) return std::nullopt;
    return RasterHeader{format, *size};
}

QByteArray rasterTarget(const QStringList& offered) {
    static const char* const types[] = {"image/png", "image/jpeg", "image/jpg", "image/pjpeg", "image/webp",
                                        "image/gif", "image/bmp", "image/x-bmp", "image/x-ms-bmp"};
    const bool webp = QImageReader::supportedImageFormats().contains("webp");
    for (const char* type : types) {
        if (qstrcmp(type, "image/webp") == 0 && !webp) continue;
        if (offered.contains(QLatin1String(type))) return type;
    }
    return {};
}

QImage decodeRaster(const QByteArray& data, const ClipboardLimits& limits) {
    if (data.size() > limits.maxImageBytes) return {};
    const std::optional<RasterHeader> header = rasterHeader(data);
    if (!header || qint64(header->size.width()) * header->size.height() > limits.maxImagePixels) return {};
    BudgetDevice buffer(data, limits);
    buffer.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    // The format the header showed and no other: no plugin is picked by what the bytes look like.
    QImageReader reader(&buffer, header->format);
    reader.setAutoDetectImageFormat(false);
    reader.setAllocationLimit(int(limits.maxImagePixels * 4 / (1 << 20)) + 1);
    QImage image = reader.read();
    // A decode cut short may still have given a part of the picture.
    if (buffer.stopped() || limits.cancelled()) return {};
    if (qint64(image.width()) * image.height() > limits.maxImagePixels) return {};
    return image;
}

ClipboardContent contentFrom(const QMimeData& data, const ClipboardLimits& limits) {
    ClipboardContent c;
    const QStringList formats = data.formats();
    if (formats.contains(QLatin1String(kPasswordHint)))
        c.secret = data.data(QLatin1String(kPasswordHint)).trimmed() == "secret";
    c.secret = c.secret || formats.contains(QLatin1String(kConcealed));
    c.transient = formats.contains(QLatin1String(kTransient)) || formats.contains(QLatin1String(kAutoGenerated));
    c.fromHistory = formats.contains(QLatin1String(kFromHistory));
    if (c.secret || c.transient || c.fromHistory) return c; // nothing of it is read
    if (data.hasUrls()) c.urls = data.urls();
    // A picture put there by this process is a QImage already; any other is decoded here, and
    // only from a raster type (Qt's own conversion would draw an SVG).
    const QByteArray raster = rasterTarget(formats);
    if (!raster.isEmpty()) c.image = decodeRaster(data.data(QString::fromLatin1(raster)), limits);
    else if (data.hasImage() && std::none_of(formats.cbegin(), formats.cend(),
                                             [](const QString& f) { return f.startsWith(QLatin1String("image/")); }))
        c.image = qvariant_cast<QImage>(data.imageData());
    if (data.hasText()) c.text = data.text();
    return c;
}

ClipboardContent withinLimits(ClipboardContent c, const ClipboardLimits& limits) {
    // UTF-8 never takes fewer bytes than UTF-16 units, so the cheap test comes first.
    if (c.text.size() > limits.maxTextBytes || c.text.toUtf8().size() > limits.maxTextBytes) c.text.clear();
    qint64 uriBytes = 0;
    for (const QUrl& url : std::as_const(c.urls)) uriBytes += url.toEncoded().size() + 2;
    if (uriBytes > limits.maxTextBytes) c.urls.clear();
    if (qint64(c.image.width()) * c.image.height() > limits.maxImagePixels) c.image = QImage();
    if (c.image.isNull()) c.imageData.clear();
    return c;
}

QMimeData* mimeDataFor(const ClipboardContent& content) {
    auto* data = new QMimeData;
    if (!content.urls.isEmpty()) data->setUrls(content.urls);
    if (!content.image.isNull()) data->setImageData(content.image);
    if (!content.text.isEmpty()) data->setText(content.text);
    if (content.fromHistory) data->setData(QLatin1String(kFromHistory), "1");
    return data;
}

} // namespace clipboard

} // namespace lomex
