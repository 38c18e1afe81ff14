#include "settings/pages/NotchPage.h"
#include "core/L10n.h"
#include "notch/NotchModel.h"
#include "notch/NotchPageHost.h"
#include "settings/blocks/Blocks.h"
#include "settings/blocks/Controls.h"
#include "settings/blocks/Style.h"
#include "ui/Motion.h"
#include "ui/Symbols.h"
#include <QApplication>
#include <QHash>
#include <QHBoxLayout>
#include <QToolButton>
#include <QVBoxLayout>

namespace lomex {

NotchPage::NotchPage(NotchModel* model, QWidget* parent) : SettingsPage(parent), model_(model) {
    L10n& l = L10n::shared();
    auto t = [&l](const char* key) { return l.t(QString::fromLatin1(key)); };

    auto* hover = add(new Card);
    hover->add(new ToggleRow(t("settings.hoverTabs"), t("settings.hoverTabs.detail"),
                             setting(keys::hoverTabs)));

    auto* notices = add(new Card(t("notice.title")));
    notices->add(new ToggleRow(t("notice.battery"), t("notice.battery.detail"),
                               setting(keys::batteryNotices)));
    notices->add(new ToggleRow(t("notice.headphones"), t("notice.headphones.detail"),
                               setting(keys::headphoneNotices)));
    // No player or audio spectrum in this version: the switch keeps its stored value for later.
    auto* eq = notices->add(new ToggleRow(t("notice.eq"), t("notice.eq.detail"), setting(keys::liveEqualizer)));
    eq->toggle()->setObjectName(QStringLiteral("liveEqualizer"));
    eq->markNotInVersion(t("settings.notInVersion"));

    auto* display = add(new Card(t("display.title")));
    auto* which = new PopUp({{t("display.auto"), QStringLiteral("auto")},
                             {t("display.main"), QStringLiteral("main")},
                             {t("display.mouse"), QStringLiteral("mouse")}},
                            setting(keys::displayChoice));
    which->setFixedWidth(230);
    display->add(new Row(t("display.which"), {}, which));
    auto* pill = new SegmentedPicker({{t("display.pillAlways"), QStringLiteral("always")},
                                      {t("display.pillActivity"), QStringLiteral("activity")}},
                                     setting(keys::pillMode));
    pill->setFixedWidth(230);
    // The picker is as wide as the one above; beside it the title and the long detail would
    // be squeezed into a narrow column.
    display->add(new Row(t("display.pill"), t("display.pillDetail"), pill))->placeTrailingBelow();

    tabs_ = add(new Card(t("settings.tabs")));
    rebuildTabs();
    connect(model_, &NotchModel::tabOrderChanged, this, &NotchPage::rebuildTabs);
    connect(model_, &NotchModel::hiddenTabsChanged, this, &NotchPage::rebuildTabs);
}

void NotchPage::move(int index, int step) {
    QList<NotchModel::Tab> order = model_->tabOrder();
    const int target = index + step;
    if (index < 0 || index >= order.size() || target < 0 || target >= order.size()) return;
    order.swapItemsAt(index, target);
    // The rows are made anew from the model; the two that swapped glide from their old places.
    QHash<QString, QPoint> before;
    for (QWidget* row : tabs_->box()->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        if (row->objectName().startsWith(QLatin1String("tab.")) && !row->isHidden()) before[row->objectName()] = row->pos();
    model_->setTabOrder(order);
    // The new rows are shown now rather than on the next pass, so the layout places them.
    QList<QWidget*> made;
    for (QWidget* row : tabs_->box()->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        const bool leaving = row->isHidden() && row->testAttribute(Qt::WA_WState_ExplicitShowHide);
        if (leaving || !before.contains(row->objectName())) continue;
        row->show();
        made << row;
    }
    tabs_->box()->layout()->activate();
    for (QWidget* row : made) motion::slideFrom(row, before[row->objectName()], motion::spring(motion::listSpring));
}

void NotchPage::rebuildTabs() {
    // Rows are made anew from the model; the buttons that asked for it are deleted after their
    // click returns. A keyboard user stays on the same control of the same tab's new row.
    QString focusRow, focusControl;
    if (QWidget* f = QApplication::focusWidget(); f && tabs_->isAncestorOf(f) && f->parentWidget()) {
        focusRow = f->parentWidget()->objectName();
        focusControl = f->objectName();
    }
    tabs_->box()->clearRows();
    QWidget* focusedRow = nullptr;
    const QList<NotchModel::Tab>& order = model_->tabOrder();
    const QColor orange = style::named(style::Named::orange, this);
    const QColor gray = style::named(style::Named::gray, this);
    for (int i = 0; i < order.size(); ++i) {
        const NotchModel::Tab tab = order[i];
        const bool visible = !model_->hiddenTabs().contains(tab);
        // A tab without a page keeps its place and stored state, but offers nothing to change.
        const bool paged = model_->hasPage(tab);
        auto* row = new QWidget;
        row->setObjectName(QStringLiteral("tab.") + NotchModel::rawName(tab));
        auto* h = new QHBoxLayout(row);
        h->setContentsMargins(0, 0, 0, 0);
        h->setSpacing(10);
        // Grey like a hidden tab when the bar cannot show it.
        const bool shown = visible && paged;
        h->addWidget(new IconTile(tabSymbol(tab), shown ? orange : gray, 24, row));
        const QString name = L10n::shared().t(QStringLiteral("tab.") + NotchModel::rawName(tab));
        h->addWidget(plainLabel(name, style::body, shown ? style::primary(this) : style::secondary(this), row));
        const QString missing = L10n::shared().t(QStringLiteral("settings.notInVersion"));
        if (!paged) h->addWidget(notInVersionBadge(missing, row));
        h->addStretch(1);
        auto arrow = [&](const char* symbol, int step, bool enabled) {
            auto* b = new QToolButton(row);
            b->setObjectName(QString::fromLatin1(step < 0 ? "up" : "down"));
            b->setAutoRaise(true);
            // Qt's own greying leaves a light glyph on a dark ground as bright as an enabled one.
            QIcon icon(symbols::pixmap(QString::fromLatin1(symbol), 14, style::primary(this), devicePixelRatioF()));
            icon.addPixmap(symbols::pixmap(QString::fromLatin1(symbol), 14, style::primary(this, 0.25), devicePixelRatioF()),
                           QIcon::Disabled);
            b->setIcon(icon);
            b->setEnabled(enabled && paged);
            b->setAccessibleName(L10n::shared().t(QString::fromLatin1(step < 0 ? "settings.moveUp" : "settings.moveDown"), {name}));
            connect(b, &QToolButton::clicked, this, [this, i, step] { move(i, step); });
            h->addWidget(b);
        };
        arrow("chevron.up", -1, i > 0);
        arrow("chevron.down", +1, i < order.size() - 1);
        auto* sw = boundSwitch({[this, tab] { return !model_->hiddenTabs().contains(tab); },
                                [this, tab](const bool& on) {
                                    QSet<NotchModel::Tab> hidden = model_->hiddenTabs();
                                    if (on) hidden.remove(tab);
                                    else hidden.insert(tab);
                                    model_->setHiddenTabs(hidden);
                                },
                                {}},
                               row);
        sw->setAccessibleName(name);
        sw->setObjectName(QStringLiteral("visible"));
        if (!paged) {
            sw->setEnabled(false);
            sw->setAccessibleDescription(missing);
        }
        h->addWidget(sw);
        tabs_->add(row);
        if (!focusRow.isEmpty() && row->objectName() == focusRow) focusedRow = row;
    }
    if (!focusedRow) return;
    QWidget* target = focusedRow->findChild<QWidget*>(focusControl);
    // An arrow at the end of the list is disabled: the switch of the row takes the focus.
    if (!target || !target->isEnabled()) target = focusedRow->findChild<QWidget*>(QStringLiteral("visible"));
    if (target) target->setFocus(Qt::OtherFocusReason);
}

} // namespace lomex
