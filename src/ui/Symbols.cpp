#include "ui/Symbols.h"
#include <QPainter>

namespace lomex::symbols {

bool hasSymbol(const QString&) { return false; }
QString resourcePath(const QString&) { return {}; }

QPixmap pixmap(const QString& name, int size, const QColor& color, qreal dpr) {
    QPixmap pm(int(size * dpr), int(size * dpr));
    pm.setDevicePixelRatio(dpr);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(color, std::max(1.0, size / 10.0)));
    p.drawEllipse(QRectF(size * 0.2, size * 0.2, size * 0.6, size * 0.6)); // fallback glyph
    Q_UNUSED(name);
    return pm;
}

QIcon icon(const QString& name, const QColor& color) { return QIcon(pixmap(name, 32, color, 2.0)); }

} // namespace lomex::symbols
