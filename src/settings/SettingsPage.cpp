#include "settings/SettingsPage.h"
#include "core/L10n.h"
#include "core/Settings.h"
#include "settings/blocks/Binding.h"
#include "settings/blocks/Blocks.h"
#include "settings/blocks/Style.h"
#include <QApplication>
#include <QEvent>
#include <QScrollArea>
#include <QTimer>
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
    connect(&Settings::shared(), &Settings::saveFailed, this, &SettingsPage::showSaveError);
    // The next save that works clears it.
    connect(&Settings::shared(), &Settings::changed, this, [this] {
        if (saveError_ && !Settings::shared().lastError()) saveError_->hide();
    });
}

QWidget* SettingsPage::elementActedOn(const QString& key) const {
    // The control bound to the key that failed, else the control with the keyboard focus.
    QWidget* control = nullptr;
    const QByteArray bound = boundKeyProperty(key);
    for (QWidget* w : findChildren<QWidget*>())
        if (w->property(bound.constData()).toBool() && w->isVisibleTo(this)) {
            control = w;
            break;
        }
    if (!control && isAncestorOf(QApplication::focusWidget())) control = QApplication::focusWidget();
    if (!control) return nullptr;
    while (control->parentWidget() != this) control = control->parentWidget();
    return control;
}

void SettingsPage::showSaveError(const QString& key) {
    if (!isVisible()) return;
    if (saveError_ && saveError_->isVisible()) {
        // Already shown: it stays where it first appeared. Moving it at each retry of a failing
        // save shifted the page under the pointer.
        sayNotSaved();
        return;
    }
    QWidget* element = elementActedOn(key);
    // A key the page watches itself without a bound control (the monitoring switch) has its
    // own message there; a write from outside the page (the note, the notch) while nothing
    // here has the keyboard is not shown here.
    if (!element && (property(boundKeyProperty(key).constData()).toBool() || !window()->isActiveWindow())) return;
    if (!saveError_) {
        saveError_ = plainLabel(QString(), style::caption, style::named(style::Named::red, this), this);
        saveError_->setObjectName(QStringLiteral("saveError"));
        saveError_->setWordWrap(true);
        saveError_->setContentsMargins(4, 0, 0, 0);
    }
    sayNotSaved();
    if (QWidget* holder = saveError_->parentWidget(); holder && holder->layout()) holder->layout()->removeWidget(saveError_);
    // Inside the element used (a card: under its box), else right under it.
    if (auto* stack = element ? qobject_cast<QVBoxLayout*>(element->layout()) : nullptr)
        stack->addWidget(saveError_);
    else
        layout_->insertWidget(element ? layout_->indexOf(element) + 1 : 0, saveError_);
    saveError_->show();
    QTimer::singleShot(0, this, [this] {
        for (QWidget* w = parentWidget(); w; w = w->parentWidget())
            if (auto* scroll = qobject_cast<QScrollArea*>(w)) {
                if (saveError_) scroll->ensureWidgetVisible(saveError_, 0, 24);
                return;
            }
    });
}

void SettingsPage::sayNotSaved() {
    saveError_->setText(L10n::shared().t(QStringLiteral("settings.notSaved"), {Settings::shared().filePath()}));
    const auto& why = Settings::shared().lastError();
    saveError_->setToolTip(why ? L10n::shared().worded(*why).message : QString());
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
