#include "notch/ExpandedView.h"
#include "notch/NotchModel.h"
#include "notch/NotchPageHost.h"
#include "notch/NotchTabBar.h"
#include <QLabel>
#include <QVBoxLayout>
#include <algorithm>

namespace lomex {

namespace {
// Horizontal padding and border of the toast pill (see its style sheet), plus a little air.
constexpr int kToastPadding = 24;
} // namespace

ExpandedView::ExpandedView(NotchModel* model, QWidget* parent) : QWidget(parent), model_(model) {
    auto* col = new QVBoxLayout(this);
    // The upper row sits beside the closed pill's place; the body fills the rest.
    col->setContentsMargins(18, 6, 18, 10);
    col->setSpacing(6);
    tabBar_ = new NotchTabBar(model_, this);
    col->addWidget(tabBar_);
    pages_ = new NotchPageHost(this);
    col->addWidget(pages_, 1);
    toast_ = new QLabel(this);
    toast_->setObjectName(QStringLiteral("toast"));
    toast_->setTextFormat(Qt::PlainText);
    toast_->setAlignment(Qt::AlignCenter);
    toast_->setWordWrap(true);
    QFont f = toast_->font();
    f.setPixelSize(12);
    f.setBold(true);
    toast_->setFont(f);
    toast_->setStyleSheet(QStringLiteral("color: white; background: rgba(255,255,255,30); border-radius: 9px;"
                                         "padding: 2px 10px;"));
    col->addWidget(toast_, 0, Qt::AlignHCenter);

    connect(model_, &NotchModel::toastChanged, this, &ExpandedView::updateToast);
    connect(model_, &NotchModel::tabChanged, this, [this] { pages_->showTab(model_->tab()); });
    pages_->showTab(model_->tab());
    updateToast();
}

void ExpandedView::updateToast() {
    // A long toast wraps within the panel, whole: it takes its lines from the page above (a
    // centred single line would overflow both edges). Short ones keep their own width.
    const QMargins m = layout()->contentsMargins();
    const int room = std::max(0, width() - m.left() - m.right() - kToastPadding);
    const QString text = model_->toast();
    toast_->setText(text);
    // An empty label has no height for any width.
    if (text.isEmpty()) {
        toast_->hide();
        return;
    }
    const int textWidth = std::min(room, toast_->fontMetrics().horizontalAdvance(text) + 1);
    toast_->setFixedWidth(textWidth + kToastPadding);
    toast_->setFixedHeight(toast_->heightForWidth(textWidth + kToastPadding));
    toast_->show();
}

void ExpandedView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    updateToast();
}

void ExpandedView::retranslate() {
    tabBar_->retranslate();
    pages_->retranslate();
}

} // namespace lomex
