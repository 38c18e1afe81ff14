#pragma once
#include <QAccessible>
#include <QColor>
#include <QStringList>

class QWidget;

namespace lomex::test {

// What a screen reader finds under a widget, through Qt's accessibility interfaces as the
// AT-SPI bridge reads them. Each entry is "Role 'name' #objectName".

// Elements one can operate (buttons, check boxes, radio buttons, tabs, pop-ups, text fields,
// sliders, spin boxes) or focus, shown, that have no name; a pop-up counts as named when a
// label is linked to it, as Linux screen readers read it.
QStringList unnamedControls(QWidget* root);

// Shown elements that take the keyboard focus but report a role that says nothing (a filler,
// a bare client area): a Tab stop a screen reader cannot explain.
QStringList focusableFillers(QWidget* root);

// The names of every shown element under a widget, in tree order.
QStringList shownNames(QWidget* root);

// Runs an action of a widget's accessible interface, as assistive technology does.
bool doAccessibleAction(QWidget* widget, const QString& action);

// The strongest contrast, against the black panel, of the pixels that change when the
// keyboard moves the focus onto the widget (0 when nothing changes).
double focusRingContrast(QWidget* widget);

} // namespace lomex::test
