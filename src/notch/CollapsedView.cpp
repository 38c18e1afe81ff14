#include "notch/CollapsedView.h"
#include "notch/NotchModel.h"
#include "ui/Symbols.h"
#include <QPainter>

namespace lomex {

CollapsedView::CollapsedView(NotchModel* model, QWidget* parent) : QWidget(parent), model_(model) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    connect(model_, &NotchModel::liveChanged, this, qOverload<>(&QWidget::update));
    connect(model_, &NotchModel::noticeChanged, this, qOverload<>(&QWidget::update));
}

QString CollapsedView::leftSymbol() const {
    switch (model_->live()) {
    case NotchModel::Live::none: return {};
    case NotchModel::Live::media: return QStringLiteral("music.note");
    case NotchModel::Live::timer: return QStringLiteral("timer");
    case NotchModel::Live::meeting: return QStringLiteral("calendar");
    case NotchModel::Live::leave: return QStringLiteral("figure.walk");
    case NotchModel::Live::agent: return QStringLiteral("sparkles");
    case NotchModel::Live::notice: {
        const auto& n = model_->notice();
        if (!n) return QStringLiteral("bell.fill");
        switch (n->kind) {
        case Notice::Kind::charging: return QStringLiteral("battery.100.bolt");
        case Notice::Kind::lowBattery: return QStringLiteral("battery.25");
        case Notice::Kind::device: return n->symbol.isEmpty() ? QStringLiteral("headphones") : n->symbol;
        }
    }
    }
    return {};
}

QString CollapsedView::rightText() const {
    if (model_->live() != NotchModel::Live::notice || !model_->notice()) return {};
    const Notice& n = *model_->notice();
    if (n.kind == Notice::Kind::device) {
        if (n.batteries.isEmpty()) return {};
        int lowest = 100;
        for (const auto& b : n.batteries) lowest = std::min(lowest, b.percent);
        return QString::number(lowest) + QLatin1Char('%');
    }
    return QString::number(n.percent) + QLatin1Char('%');
}

void CollapsedView::leaveSidesTo(NotchModel::Live live) {
    drawnElsewhere_ = live;
    update();
}

void CollapsedView::paintEvent(QPaintEvent*) {
    const int side = model_->sideWidth();
    if (side <= 0 || model_->live() == drawnElsewhere_) return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const int h = height();
    const int s = std::min(16, h - 8);
    const QString sym = leftSymbol();
    if (!sym.isEmpty())
        p.drawPixmap(QPoint((side - s) / 2, (h - s) / 2), symbols::pixmap(sym, s, Qt::white, devicePixelRatioF()));
    const QString text = rightText();
    if (!text.isEmpty()) {
        QFont f = font();
        f.setPixelSize(12);
        f.setBold(true);
        p.setFont(f);
        p.setPen(Qt::white);
        p.drawText(QRect(width() - side, 0, side, h), Qt::AlignCenter, text);
    }
}

} // namespace lomex
