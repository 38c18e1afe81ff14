#pragma once
#include <QAccessible>
#include <QColor>
#include <QWidget>
class QAbstractButton;

namespace lomex::a11y {

// What assistive technology (a screen reader, voice control) learns about our own widgets
// beyond Qt's defaults. Qt reports a plain widget as a nameless "filler"; windows, groups of
// choices, the notch's tab list and its tabs need their real roles to be usable.

// Gives a widget the role it is reported with. Works for a class of ours that has Q_OBJECT
// (Qt's own classes keep their interfaces); call it in the constructor, before anything asks
// for the widget's interface. A page tab reports itself selected while `selected` is set.
void setRole(QWidget* widget, QAccessible::Role role);
void setSelected(QWidget* tab, bool selected);

// A plain container reported with a role and a name: a group of choices, a list of tabs.
class Group : public QWidget {
    Q_OBJECT
public:
    explicit Group(QAccessible::Role role = QAccessible::Grouping, QWidget* parent = nullptr);
};

// In a set of radio buttons Tab stops on the chosen one and arrows reach the others; Qt
// settles this only once a member had the focus. With none chosen, the first is the stop.
void tabStopOnChecked(const QList<QAbstractButton*>& set);

// Tells assistive technology that this widget, just shown, needs the user now.
void announce(QWidget* widget);

// The keyboard focus ring on the notch's black panel, and whether a widget should draw it:
// it has the focus and the keyboard put it there.
QColor notchFocusRing();
bool showsFocusRing(const QWidget* widget);

// WCAG contrast ratio of two opaque colours (1 to 21).
double contrastRatio(const QColor& a, const QColor& b);

} // namespace lomex::a11y
