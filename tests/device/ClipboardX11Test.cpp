#include "TestEnv.h"
#include "XvfbDisplay.h"
#include "device/ClipboardStore.h"
#include "platform/X11Clipboard.h"
#include "platform/XcbSupport.h"
#include <QBuffer>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>

using namespace lomex;

namespace {

xcb_window_t clipboardOwner(xcb_connection_t* conn)
{
    const char name[] = "CLIPBOARD";
    xcbsupport::Reply<xcb_intern_atom_reply_t> atom(
        xcb_intern_atom_reply(conn, xcb_intern_atom(conn, 0, sizeof name - 1, name), nullptr));
    xcbsupport::Reply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(conn, xcb_get_selection_owner(conn, atom ? atom->atom : 0), nullptr));
    return owner ? owner->owner : 0;
}

// Offers a file on the CLIPBOARD through xclip (which stays in the background to serve it) and
// waits until it owns the clipboard.
void offer(const QString& display, const QString& target, const QString& file)
{
    xcb_connection_t* conn = xcb_connect(display.toLatin1().constData(), nullptr);
    const xcb_window_t before = clipboardOwner(conn);
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", display);
    p.setProcessEnvironment(env);
    p.start("xclip", {"-selection", "clipboard", "-t", target, "-i", file});
    EXPECT_TRUE(p.waitForFinished(5000));
    EXPECT_TRUE(test::waitUntil([&] {
        const xcb_window_t now = clipboardOwner(conn);
        return now != 0 && now != before;
    }));
    xcb_disconnect(conn);
}

QByteArray png(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// A drawing that Qt's SVG plugin would render (it is installed: QtSvg is ours).
QByteArray svg()
{
    return "<svg xmlns='http://www.w3.org/2000/svg' width='64' height='48'>"
           "<rect width='64' height='48' fill='teal' fill-opacity='0.5'/></svg>";
}

QByteArray gzip(const QByteArray& data)
{
    QProcess p;
    p.start("gzip", {"-c", "-n"});
    p.write(data);
    p.closeWriteChannel();
    EXPECT_TRUE(p.waitForFinished(5000));
    return p.readAllStandardOutput();
}

} // namespace

// The history's reads on a real X server: what fits is read whole, whether the owner hands it
// over at once or in pieces; what is larger than the limits is not taken, however it is offered.
TEST(ClipboardX11Test, ReadsWhatFitsAndRefusesTheRest)
{
    test::TempHome home;
    test::XvfbDisplay display;
    if (QStandardPaths::findExecutable("Xvfb").isEmpty()) GTEST_SKIP() << "Xvfb is not installed";
    ASSERT_TRUE(display.start());
    ASSERT_FALSE(QStandardPaths::findExecutable("xclip").isEmpty()) << "xclip is in scripts/bootstrap";
    const QByteArray oldDisplay = qgetenv("DISPLAY");
    qputenv("DISPLAY", display.name().toUtf8());

    const ClipboardLimits limits = ClipboardStore::limits();
    const QByteArray small = "a copied line, \xC5\xA1\xC5\xA5" "astn\xC3\xBD";
    // Over the limit, once put in one piece and once (over 4 MiB) handed over incrementally.
    const QByteArray overDirect(limits.maxTextBytes + 1, 'x');
    const QByteArray overIncremental(5 << 20, 'y');
    const QByteArray image = png(64, 48);
    struct Case {
        const char* name;
        QString target;
        QByteArray data;
        ClipboardLimits limits;
        QString text;
        QSize imageSize;
    };
    ClipboardLimits tightImage = limits;
    tightImage.maxImageBytes = image.size() - 1;
    ClipboardLimits fewPixels = limits;
    fewPixels.maxImagePixels = 64 * 48 - 1;
    ClipboardLimits roomy = limits;
    roomy.maxTextBytes = overIncremental.size();
    const std::vector<Case> cases = {
        {"small text", "UTF8_STRING", small, limits, QString::fromUtf8(small), {}},
        {"text over the limit", "UTF8_STRING", overDirect, limits, {}, {}},
        {"incremental text over the limit", "UTF8_STRING", overIncremental, limits, {}, {}},
        {"incremental text within a larger limit", "UTF8_STRING", overIncremental, roomy, QString::fromLatin1(overIncremental), {}},
        {"image", "image/png", image, limits, {}, QSize(64, 48)},
        {"image over the byte limit", "image/png", image, tightImage, {}, {}},
        {"image over the pixel limit", "image/png", image, fewPixels, {}, {}},
        // Drawings are never drawn, however small and whatever type they claim.
        {"SVG drawing", "image/svg+xml", svg(), limits, {}, {}},
        {"compressed SVG drawing", "image/svg+xml-compressed", gzip(svg()), limits, {}, {}},
        {"SVG offered as a PNG", "image/png", svg(), limits, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        offer(display.name(), c.target, home.write("offer", c.data));
        const std::optional<ClipboardContent> read = x11clipboard::read(c.limits, 5000);
        ASSERT_TRUE(read.has_value());
        EXPECT_EQ(read->text, c.text);
        EXPECT_EQ(read->image.isNull(), !c.imageSize.isValid());
        if (c.imageSize.isValid()) {
            EXPECT_EQ(read->image.size(), c.imageSize);
        }
        EXPECT_FALSE(read->secret || read->transient || read->fromHistory);
    }
    qputenv("DISPLAY", oldDisplay);
}
