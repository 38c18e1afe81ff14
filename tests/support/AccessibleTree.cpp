#include "AccessibleTree.h"
#include "ui/Accessibility.h"
#include <QAccessibleInterface>
#include <QCoreApplication>
#include <QImage>
#include <QMetaEnum>
#include <QWidget>
#include <functional>

namespace lomex::test {

namespace {

bool operable(QAccessible::Role role) {
    switch (role) {
    case QAccessible::Button:
    case QAccessible::CheckBox:
    case QAccessible::RadioButton:
    case QAccessible::PageTab:
    case QAccessible::ComboBox:
    case QAccessible::EditableText:
    case QAccessible::Slider:
    case QAccessible::SpinBox:
    case QAccessible::Link:
    case QAccessible::ButtonMenu:
    case QAccessible::ButtonDropDown: return true;
    default: return false;
    }
}

QString describe(QAccessibleInterface* acc) {
    const QString name = acc->object() ? acc->object()->objectName() : QString();
    return QStringLiteral("%1 '%2' #%3")
        .arg(QString::fromLatin1(QMetaEnum::fromType<QAccessible::Role>().valueToKey(acc->role())),
             acc->text(QAccessible::Name), name);
}

void walk(QAccessibleInterface* acc, const std::function<void(QAccessibleInterface*)>& visit, int depth = 0) {
    if (!acc || depth > 40) return;
    if (acc->state().invisible) return;
    visit(acc);
    for (int i = 0; i < acc->childCount(); ++i) walk(acc->child(i), visit, depth + 1);
}

bool labelled(QAccessibleInterface* acc) {
    for (const auto& [label, relation] : acc->relations(QAccessible::Label))
        if (label && !label->text(QAccessible::Name).trimmed().isEmpty()) return true;
    return false;
}

} // namespace

QStringList unnamedControls(QWidget* root) {
    QStringList out;
    walk(QAccessible::queryAccessibleInterface(root), [&](QAccessibleInterface* acc) {
        if (!operable(acc->role()) && !acc->state().focusable) return;
        const bool named = acc->role() == QAccessible::ComboBox ? labelled(acc)
                                                                 : !acc->text(QAccessible::Name).trimmed().isEmpty();
        if (!named) out << describe(acc);
    });
    return out;
}

QStringList focusableFillers(QWidget* root) {
    QStringList out;
    walk(QAccessible::queryAccessibleInterface(root), [&](QAccessibleInterface* acc) {
        if (acc->state().focusable && (acc->role() == QAccessible::Client || acc->role() == QAccessible::NoRole))
            out << describe(acc);
    });
    return out;
}

QStringList shownNames(QWidget* root) {
    QStringList out;
    walk(QAccessible::queryAccessibleInterface(root), [&](QAccessibleInterface* acc) {
        const QString name = acc->text(QAccessible::Name);
        if (!name.isEmpty()) out << name;
    });
    return out;
}

bool doAccessibleAction(QWidget* widget, const QString& action) {
    QAccessibleInterface* acc = QAccessible::queryAccessibleInterface(widget);
    if (!acc || !acc->actionInterface() || !acc->actionInterface()->actionNames().contains(action)) return false;
    acc->actionInterface()->doAction(action);
    QCoreApplication::processEvents();
    return true;
}

double focusRingContrast(QWidget* widget) {
    auto overBlack = [](const QImage& image, int x, int y) {
        const QColor c = image.pixelColor(x, y);
        return QColor::fromRgbF(c.redF() * c.alphaF(), c.greenF() * c.alphaF(), c.blueF() * c.alphaF());
    };
    widget->clearFocus();
    widget->window()->setAttribute(Qt::WA_KeyboardFocusChange);
    const QImage plain = widget->grab().toImage();
    widget->setFocus(Qt::TabFocusReason);
    widget->window()->setAttribute(Qt::WA_KeyboardFocusChange);
    QCoreApplication::processEvents();
    const QImage focused = widget->grab().toImage();
    double best = 0;
    for (int y = 0; y < focused.height() && y < plain.height(); ++y)
        for (int x = 0; x < focused.width() && x < plain.width(); ++x) {
            const QColor before = overBlack(plain, x, y), after = overBlack(focused, x, y);
            if (before != after) best = std::max(best, a11y::contrastRatio(after, Qt::black));
        }
    return best;
}

} // namespace lomex::test
