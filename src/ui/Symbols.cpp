#include "ui/Symbols.h"
#include <QFile>
#include <QHash>
#include <QPainter>
#include <QPixmapCache>
#include <QSvgRenderer>

// Resources compiled into a static library must be registered by hand.
static void initLomexResources() { Q_INIT_RESOURCE(resources); }

namespace lomex::symbols {

namespace {
// Symbol name of the design -> bundled icon file (resources/symbols/<file>.svg).
const QHash<QString, QString>& table() {
    static const bool registered = (initLomexResources(), true);
    Q_UNUSED(registered);
    static const QHash<QString, QString> map = {
    {"app", "app-window"},
    {"arrow.clockwise", "rotate-cw"},
    {"arrow.triangle.2.circlepath", "refresh-cw"},
    {"arrow.up", "arrow-up"},
    {"arrow.up.forward.app", "square-arrow-out-up-right"},
    {"backward.fill", "skip-back"},
    {"battery.25", "battery-low"},
    {"battery.100", "battery-full"},
    {"battery.100.bolt", "zap"},
    {"bell.fill", "bell"},
    {"bolt.fill", "zap"},
    {"book", "book"},
    {"brain", "brain"},
    {"calendar", "calendar"},
    {"checklist", "list-checks"},
    {"checkmark", "check"},
    {"checkmark.circle", "circle-check"},
    {"checkmark.circle.fill", "circle-check"},
    {"checkmark.shield.fill", "shield-check"},
    {"chevron.down", "chevron-down"},
    {"chevron.left", "chevron-left"},
    {"chevron.right", "chevron-right"},
    {"chevron.up", "chevron-up"},
    {"clock", "clock"},
    {"cloud.sun.fill", "cloud-sun"},
    {"command", "command"},
    {"doc", "file"},
    {"doc.on.clipboard.fill", "clipboard-copy"},
    {"doc.text", "file-text"},
    {"dot.radiowaves.left.and.right", "radio"},
    {"ellipsis", "ellipsis"},
    {"exclamationmark.circle", "circle-alert"},
    {"exclamationmark.triangle.fill", "triangle-alert"},
    {"figure.walk", "footprints"},
    {"folder", "folder"},
    {"forward.fill", "skip-forward"},
    {"gauge.with.dots.needle.67percent", "gauge"},
    {"gearshape", "settings"},
    {"gearshape.fill", "settings"},
    {"globe", "globe"},
    {"hand.raised.fill", "hand"},
    {"hand.tap.fill", "pointer"},
    {"headphones", "headphones"},
    {"house.fill", "house"},
    {"info.circle", "info"},
    {"info.circle.fill", "info"},
    {"keyboard", "keyboard"},
    {"link", "link"},
    {"lock.fill", "lock"},
    {"magnifyingglass", "search"},
    {"minus.circle.fill", "circle-minus"},
    {"music.note", "music"},
    {"note.text", "notebook-pen"},
    {"pause.fill", "pause"},
    {"pencil", "pencil"},
    {"person.2", "users"},
    {"person.crop.circle.fill", "circle-user"},
    {"photo", "image"},
    {"pin.fill", "pin"},
    {"play.fill", "play"},
    {"plus", "plus"},
    {"power", "power"},
    {"puzzlepiece.extension", "puzzle"},
    {"questionmark.circle", "circle-help"},
    {"rectangle.topthird.inset.filled", "panel-top"},
    {"safari", "compass"},
    {"slider.horizontal.3", "sliders-horizontal"},
    {"sparkles", "sparkles"},
    {"square.and.pencil", "square-pen"},
    {"terminal", "terminal"},
    {"timer", "timer"},
    {"trash", "trash-2"},
    {"tram.fill", "tram-front"},
    {"tray.and.arrow.down.fill", "inbox"},
    {"tray.full.fill", "archive"},
    {"wand.and.stars", "wand-sparkles"},
    {"wifi.exclamationmark", "wifi-off"},
    {"wrench.and.screwdriver", "wrench"},
    {"xmark", "x"},
    {"xmark.circle.fill", "circle-x"},
    {"xmark.octagon.fill", "octagon-x"},
    };
    return map;
}

QByteArray coloured(const QString& path, const QColor& color) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    QByteArray svg = f.readAll();
    // The icons are drawn with "currentColor"; give it the wanted colour.
    svg.replace("currentColor", color.name(QColor::HexRgb).toLatin1());
    return svg;
}

void drawFallback(QPainter& p, int size, const QColor& color) {
    p.setPen(QPen(color, std::max(1.0, size / 12.0)));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(size * 0.2, size * 0.2, size * 0.6, size * 0.6), size * 0.12, size * 0.12);
}
} // namespace

bool hasSymbol(const QString& name) { return table().contains(name); }

QString resourcePath(const QString& name) {
    auto it = table().find(name);
    return it == table().end() ? QString() : QStringLiteral(":/symbols/%1.svg").arg(*it);
}

QPixmap pixmap(const QString& name, int size, const QColor& color, qreal dpr) {
    // Views ask from their paint events; each name, size and colour is parsed and drawn once.
    const QString key = QStringLiteral("lomex.symbol:%1:%2:%3:%4")
                            .arg(name, QString::number(size), QString::number(color.rgba(), 16), QString::number(dpr));
    QPixmap pm;
    if (QPixmapCache::find(key, &pm)) return pm;
    pm = QPixmap(int(size * dpr), int(size * dpr));
    pm.setDevicePixelRatio(dpr);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setOpacity(color.alphaF());
    const QString path = resourcePath(name);
    QSvgRenderer renderer(path.isEmpty() ? QByteArray() : coloured(path, color));
    if (renderer.isValid()) renderer.render(&p, QRectF(0, 0, size, size));
    else drawFallback(p, size, color);
    p.end();
    QPixmapCache::insert(key, pm);
    return pm;
}

QIcon icon(const QString& name, const QColor& color) {
    QIcon out;
    for (int s : {16, 24, 32, 48}) out.addPixmap(pixmap(name, s, color, 1.0));
    return out;
}

QStringList knownNames() { return table().keys(); }

QIcon appIcon() {
    static const QIcon icon(QStringLiteral(":/icons/cz.lomex.Lomex.svg"));
    return icon;
}

} // namespace lomex::symbols
