#include "settings/SettingsPage.h"
#include <QVBoxLayout>

namespace lomex {

namespace {
// Every element is padded 24 at its sides and foot; neighbours sit the default 8 apart.
constexpr int kPad = 24, kDefaultSpacing = 8;
} // namespace

SettingsPage::SettingsPage(QWidget* parent) : QWidget(parent), layout_(new QVBoxLayout(this)) {
    layout_->setContentsMargins(kPad, 0, kPad, kPad);
    layout_->setSpacing(kPad + kDefaultSpacing);
    layout_->setAlignment(Qt::AlignTop);
}

void SettingsPage::addElement(QWidget* element) { layout_->addWidget(element); }

void SettingsPage::addAnchor(const QString& id) {
    auto* anchor = new QWidget(this);
    anchor->setObjectName(id);
    anchor->setFixedHeight(0);
    layout_->addWidget(anchor);
}

QWidget* SettingsPage::anchor(const QString& id) const {
    return findChild<QWidget*>(id);
}

} // namespace lomex
