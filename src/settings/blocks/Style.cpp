#include "settings/blocks/Style.h"
#include "ui/Accessibility.h"
#include <QApplication>
#include <QPainter>
#include <QPalette>
#include <QWidget>

namespace lomex::style {

namespace {
QPalette paletteOf(const QWidget* w) { return w ? w->palette() : QApplication::palette(); }
bool isDark(const QWidget* w) { return paletteOf(w).color(QPalette::Window).lightness() < 128; }
} // namespace

// The active group's: a disabled widget dims itself (secondary ink, lower opacity), and the
// palette's own disabled grey on top of that left values unreadable.
QColor primary(const QWidget* w) { return paletteOf(w).color(QPalette::Active, QPalette::WindowText); }

QColor primary(const QWidget* w, double opacity) {
    QColor c = primary(w);
    c.setAlphaF(float(opacity));
    return c;
}

QColor secondary(const QWidget* w) { return primary(w, 0.55); }

QColor accent(const QWidget* w) { return paletteOf(w).color(QPalette::Active, QPalette::Highlight); }

QColor named(Named colour, const QWidget* w) {
    const bool dark = isDark(w);
    switch (colour) {
    case Named::gray: return dark ? QColor(152, 152, 157) : QColor(142, 142, 147);
    case Named::orange: return dark ? QColor(255, 159, 10) : QColor(255, 149, 0);
    case Named::red: return dark ? QColor(255, 69, 58) : QColor(255, 59, 48);
    case Named::teal: return dark ? QColor(64, 200, 224) : QColor(48, 176, 199);
    case Named::blue: return dark ? QColor(10, 132, 255) : QColor(0, 122, 255);
    case Named::mint: return dark ? QColor(99, 230, 226) : QColor(0, 199, 190);
    case Named::purple: return dark ? QColor(191, 90, 242) : QColor(175, 82, 222);
    case Named::indigo: return dark ? QColor(94, 92, 230) : QColor(88, 86, 214);
    case Named::green: return dark ? QColor(48, 209, 88) : QColor(40, 167, 69);
    case Named::secondary: return secondary(w);
    }
    return primary(w);
}

bool showsFocusRing(const QWidget* w) { return a11y::showsFocusRing(w); }

QFont font(double pixelSize, QFont::Weight weight) {
    QFont f = QApplication::font();
    f.setPixelSize(qMax(1, int(pixelSize + 0.5)));
    f.setWeight(weight);
    return f;
}

void RoundedPanel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(stroke_ > 0 ? QPen(primary(this, stroke_), 1) : QPen(Qt::NoPen));
    p.setBrush(primary(this, fill_));
    p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), radius_, radius_);
}

} // namespace lomex::style
