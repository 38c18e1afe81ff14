#include "notch/NotchRootView.h"
#include "notch/NotchModel.h"
#include "core/L10n.h"
#include "notch/CollapsedView.h"
#include "notch/ExpandedView.h"
#include "notch/NotchShape.h"
#include "notch/NotchTabBar.h"
#include <QPainter>

namespace lomex {

NotchRootView::NotchRootView(const Services& services, QWidget* parent)
    : QWidget(parent), services_(services) {
    Q_ASSERT(services_.model);
    setObjectName(QStringLiteral("notchRoot"));
    collapsed_ = new CollapsedView(services_.model, this);
    expanded_ = new ExpandedView(services_.model, this);
    NotchModel* m = services_.model;
    connect(m, &NotchModel::isOpenChanged, this, &NotchRootView::relayout);
    // A new live activity or usage row comes with geometryChanged.
    connect(m, &NotchModel::geometryChanged, this, &NotchRootView::relayout);
    connect(m, &NotchModel::notchSizeChanged, this, &NotchRootView::relayout);
    connect(&L10n::shared(), &L10n::languageChanged, this, [this] { expanded_->retranslate(); });
    relayout();
}

NotchPageHost* NotchRootView::pages() const { return expanded_->pages(); }

void NotchRootView::setOnSettings(std::function<void()> fn) { expanded_->tabBar()->onSettings = std::move(fn); }

void NotchRootView::setPillVisible(bool visible) {
    if (pillVisible_ == visible) return;
    pillVisible_ = visible;
    relayout();
}

void NotchRootView::relayout() {
    const NotchModel& m = *services_.model;
    collapsed_->setGeometry(notchshape::collapsedRect(m));
    expanded_->setGeometry(notchshape::expandedRect(m));
    collapsed_->setVisible(!m.isOpen() && pillVisible_);
    expanded_->setVisible(m.isOpen());
    update();
}

void NotchRootView::resizeEvent(QResizeEvent*) { relayout(); }

void NotchRootView::paintEvent(QPaintEvent*) {
    const NotchModel& m = *services_.model;
    if (!m.isOpen() && !pillVisible_) return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const bool open = m.isOpen();
    const QRect r = notchshape::currentRect(m);
    p.fillPath(notchshape::outline(r, open ? notchshape::kOpenRadius : notchshape::kClosedRadius), Qt::black);
}

} // namespace lomex
