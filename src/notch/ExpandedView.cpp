#include "notch/ExpandedView.h"
#include "app/NotchModel.h"
#include "notch/NotchPageHost.h"
#include "notch/NotchTabBar.h"
#include <QLabel>
#include <QVBoxLayout>

namespace lomex {

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
    toast_->setText(model_->toast());
    toast_->setVisible(!model_->toast().isEmpty());
}

void ExpandedView::retranslate() {
    tabBar_->retranslate();
    pages_->retranslate();
}

} // namespace lomex
