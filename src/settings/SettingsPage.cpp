#include "settings/SettingsPage.h"
#include <QEvent>
#include <QVBoxLayout>
#include <QVariant>

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

void SettingsPage::addElement(QWidget* element) {
    layout_->addWidget(element);
    // Anchors waiting for their section now ride on its top edge.
    for (QWidget* anchor : std::as_const(pendingAnchors_)) anchor->setProperty("section", QVariant::fromValue<QObject*>(element));
    if (!pendingAnchors_.isEmpty()) element->installEventFilter(this);
    pendingAnchors_.clear();
}

void SettingsPage::addAnchor(const QString& id) {
    // Outside the layout: an item of no height there would still get the spacing on both sides.
    auto* anchor = new QWidget(this);
    anchor->setObjectName(id);
    anchor->setFixedHeight(0);
    anchor->setAttribute(Qt::WA_TransparentForMouseEvents);
    pendingAnchors_.append(anchor);
}

bool SettingsPage::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Move || event->type() == QEvent::Resize) {
        const auto* section = static_cast<QWidget*>(watched);
        for (QWidget* anchor : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
            if (anchor->property("section").value<QObject*>() == watched)
                anchor->setGeometry(section->x(), section->y(), section->width(), 0);
    }
    return QWidget::eventFilter(watched, event);
}

QWidget* SettingsPage::anchor(const QString& id) const {
    return findChild<QWidget*>(id);
}

} // namespace lomex
