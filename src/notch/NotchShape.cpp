#include "notch/NotchShape.h"
#include "notch/NotchModel.h"
#include <QPolygon>
#include <algorithm>
#include <cmath>

namespace lomex::notchshape {

QRect collapsedRect(const NotchModel& model) {
    const int w = std::min(model.collapsedWidth(), NotchModel::kOpenWidth);
    const int h = model.notchSize().height();
    return QRect((NotchModel::kOpenWidth - w) / 2, 0, w, h);
}

QRect expandedRect(const NotchModel& model) { return QRect(QPoint(0, 0), model.openHotRect().size()); }

QRect currentRect(const NotchModel& model) {
    return model.isOpen() ? expandedRect(model) : collapsedRect(model);
}

QPainterPath outline(const QRectF& r, qreal radius) {
    radius = std::min({radius, r.width() / 2, r.height()});
    QPainterPath path;
    path.moveTo(r.topLeft());
    path.lineTo(r.topRight());
    path.lineTo(r.right(), r.bottom() - radius);
    path.quadTo(r.right(), r.bottom(), r.right() - radius, r.bottom());
    path.lineTo(r.left() + radius, r.bottom());
    path.quadTo(r.left(), r.bottom(), r.left(), r.bottom() - radius);
    path.closeSubpath();
    return path;
}

QRegion region(const QRect& r, int radius) {
    if (r.isEmpty()) return {};
    radius = std::min({radius, r.width() / 2, r.height()});
    QRegion out(r.x(), r.y(), r.width(), r.height() - radius);
    // Row by row through the rounded part: each row as wide as the quarter circles allow.
    for (int i = 0; i < radius; ++i) {
        const double dy = i + 0.5;                 // distance below the arcs' centre line
        const double dx = radius - std::sqrt(std::max(0.0, double(radius) * radius - dy * dy));
        const int inset = int(std::lround(dx));
        out += QRegion(r.x() + inset, r.bottom() - radius + 1 + i, r.width() - 2 * inset, 1);
    }
    return out;
}

} // namespace lomex::notchshape
