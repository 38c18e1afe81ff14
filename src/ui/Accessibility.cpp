#include "ui/Accessibility.h"
#include <QAbstractButton>
#include <QAccessibleWidget>
#include <QVariant>
#include <algorithm>
#include <cmath>

namespace lomex::a11y {

namespace {

constexpr char kRole[] = "lomexAccessibleRole";
constexpr char kSelected[] = "lomexSelected";

// A tab of a tab list: selectable, selected while it is the current one, pressed to switch.
class TabInterface : public QAccessibleWidget {
public:
    explicit TabInterface(QWidget* w) : QAccessibleWidget(w, QAccessible::PageTab) {}
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.selectable = true;
        s.selected = widget()->property(kSelected).toBool();
        return s;
    }
    QStringList actionNames() const override { return QStringList{pressAction()} + QAccessibleWidget::actionNames(); }
    void doAction(const QString& action) override {
        if (action != pressAction()) return QAccessibleWidget::doAction(action);
        if (auto* b = qobject_cast<QAbstractButton*>(widget()); b && b->isEnabled()) b->click();
    }
};

// Consulted after Qt's own factory, so only for classes Qt does not know: ours.
QAccessibleInterface* factory(const QString&, QObject* object) {
    if (!object || !object->isWidgetType()) return nullptr;
    const QVariant role = object->property(kRole);
    if (!role.isValid()) return nullptr;
    auto* w = static_cast<QWidget*>(object);
    const auto r = QAccessible::Role(role.toInt());
    if (r == QAccessible::PageTab) return new TabInterface(w);
    return new QAccessibleWidget(w, r);
}

double channel(int value) {
    const double c = value / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double luminance(const QColor& c) {
    return 0.2126 * channel(c.red()) + 0.7152 * channel(c.green()) + 0.0722 * channel(c.blue());
}

} // namespace

void setRole(QWidget* widget, QAccessible::Role role) {
    static const bool installed = [] {
        QAccessible::installFactory(factory);
        return true;
    }();
    Q_UNUSED(installed);
    widget->setProperty(kRole, int(role));
}

void setSelected(QWidget* tab, bool selected) {
    if (tab->property(kSelected).toBool() == selected) return;
    tab->setProperty(kSelected, selected);
    QAccessible::State changed;
    changed.selected = true;
    QAccessibleStateChangeEvent event(tab, changed);
    QAccessible::updateAccessibility(&event);
}

Group::Group(QAccessible::Role role, QWidget* parent) : QWidget(parent) { setRole(this, role); }

void announce(QWidget* widget) {
    QAccessibleEvent event(widget, QAccessible::Alert);
    QAccessible::updateAccessibility(&event);
}

QColor notchFocusRing() { return QColor(100, 170, 255); }

void tabStopOnChecked(const QList<QAbstractButton*>& set) {
    const bool any = std::any_of(set.begin(), set.end(), [](QAbstractButton* b) { return b->isChecked(); });
    for (QAbstractButton* b : set)
        b->setFocusPolicy(b->isChecked() || (!any && b == set.first()) ? Qt::StrongFocus : Qt::ClickFocus);
}

bool showsFocusRing(const QWidget* widget) {
    return widget->hasFocus() && widget->window()->testAttribute(Qt::WA_KeyboardFocusChange);
}

double contrastRatio(const QColor& a, const QColor& b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

} // namespace lomex::a11y
