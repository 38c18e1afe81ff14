#include "notch/NotchTabBar.h"
#include "core/L10n.h"
#include "notch/NotchPageHost.h"
#include "ui/Accessibility.h"
#include "ui/Symbols.h"
#include <QDragEnterEvent>
#include <QEnterEvent>
#include <QHBoxLayout>
#include <QPainter>
#include <QToolButton>

namespace lomex {

NotchTabButton::NotchTabButton(NotchModel::Tab tab, QWidget* parent) : QAbstractButton(parent), tab_(tab) {
    a11y::setRole(this, QAccessible::PageTab);
    setObjectName(QStringLiteral("tab.") + NotchModel::rawName(tab));
    setCursor(Qt::PointingHandCursor);
    // The keyboard reaches every tab; a click does not leave a ring behind.
    setFocusPolicy(Qt::TabFocus);
    setAcceptDrops(true);
    retranslate();
}

void NotchTabButton::retranslate() {
    setToolTip(L10n::shared().t(objectName()));
    setAccessibleName(toolTip());
}

void NotchTabButton::setSelected(bool on) {
    if (selected_ == on) return;
    selected_ = on;
    a11y::setSelected(this, on);
    update();
}

void NotchTabButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (selected_ || hover_) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 255, selected_ ? 46 : 22));
        p.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 8, 8);
    }
    const int s = 16;
    const QColor c = selected_ ? Qt::white : QColor(255, 255, 255, 150);
    p.drawPixmap(QPoint((width() - s) / 2, (height() - s) / 2),
                 symbols::pixmap(tabSymbol(tab_), s, c, devicePixelRatioF()));
    if (a11y::showsFocusRing(this)) {
        p.setPen(QPen(a11y::notchFocusRing(), 2));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 8, 8);
    }
}

void NotchTabButton::enterEvent(QEnterEvent*) {
    hover_ = true;
    update();
    Q_EMIT hovered(tab_, true);
}

void NotchTabButton::leaveEvent(QEvent*) {
    hover_ = false;
    update();
    Q_EMIT hovered(tab_, false);
}

void NotchTabButton::dragEnterEvent(QDragEnterEvent* event) {
    // Taken so the leave comes here too; nothing is dropped on a tab (see dragMoveEvent).
    event->accept();
    hover_ = true;
    update();
    Q_EMIT draggedOver(tab_, true);
}

void NotchTabButton::dragMoveEvent(QDragMoveEvent* event) { event->ignore(); }

void NotchTabButton::dragLeaveEvent(QDragLeaveEvent*) {
    hover_ = false;
    update();
    Q_EMIT draggedOver(tab_, false);
}

NotchTabBar::NotchTabBar(NotchModel* model, QWidget* parent) : QWidget(parent), model_(model) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    // The tabs alone form the tab list; the gear beside them is a button of its own.
    tabList_ = new a11y::Group(QAccessible::PageTabList, this);
    tabsLayout_ = new QHBoxLayout(tabList_);
    tabsLayout_->setSpacing(4);
    tabsLayout_->setContentsMargins(0, 0, 0, 0);
    row->addWidget(tabList_);
    row->addStretch();
    auto* gear = new QToolButton(this);
    gear->setObjectName(QStringLiteral("gear"));
    gear->setAutoRaise(true);
    gear->setFocusPolicy(Qt::TabFocus);
    gear->setCursor(Qt::PointingHandCursor);
    gear->setIcon(symbols::icon(QStringLiteral("gearshape.fill"), QColor(255, 255, 255, 170)));
    gear->setIconSize(QSize(15, 15));
    gear->setStyleSheet(QStringLiteral("QToolButton{border:none;background:transparent;padding:4px;}"
                                       "QToolButton:hover{background:rgba(255,255,255,22);border-radius:8px;}"
                                       "QToolButton:focus{border:2px solid %1;border-radius:8px;padding:2px;}")
                           .arg(a11y::notchFocusRing().name()));
    connect(gear, &QToolButton::clicked, this, [this] {
        if (onSettings) onSettings();
    });
    gear_ = gear;
    row->addWidget(gear);
    retranslate();

    // A new order or hidden set always comes with visibleTabsChanged: one rebuild per change.
    connect(model_, &NotchModel::visibleTabsChanged, this, &NotchTabBar::rebuild);
    connect(model_, &NotchModel::tabChanged, this, &NotchTabBar::updateSelection);
    rebuild();
}

void NotchTabBar::rebuild() {
    qDeleteAll(buttons_);
    buttons_.clear();
    for (NotchModel::Tab tab : model_->visibleTabs()) {
        auto* b = new NotchTabButton(tab, tabList_);
        connect(b, &QAbstractButton::clicked, model_, [this, tab] { model_->open(tab); });
        connect(b, &NotchTabButton::hovered, model_, [this](NotchModel::Tab t, bool inside) {
            model_->hoverTab(t, inside);
        });
        connect(b, &NotchTabButton::draggedOver, model_, [this](NotchModel::Tab t, bool inside) {
            model_->dragOverTab(t, inside);
        });
        tabsLayout_->addWidget(b);
        buttons_.append(b);
    }
    updateSelection();
}

void NotchTabBar::retranslate() {
    for (auto* b : buttons_) b->retranslate();
    tabList_->setAccessibleName(L10n::shared().t(QStringLiteral("settings.tabs")));
    gear_->setAccessibleName(L10n::shared().t(QStringLiteral("settings.title")));
}

void NotchTabBar::updateSelection() {
    for (auto* b : buttons_) b->setSelected(b->tab() == model_->tab());
}

} // namespace lomex
