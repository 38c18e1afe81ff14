#pragma once
#include "settings/blocks/Binding.h"
#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QList>
#include <QPair>
#include <QSlider>
#include <QSpinBox>
#include <QWidget>

namespace lomex {

// An on/off switch: a checkable button drawn as a pill with a sliding knob, so screen readers
// see a check box with its state and the keyboard (space) flips it.
class Switch : public QAbstractButton {
    Q_OBJECT
public:
    explicit Switch(QWidget* parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;
};

// The control follows its binding: it shows get() when made and whenever the watched key
// changes, and after each change it wrote it shows get() again, so a write that did not take
// (a refused login item, say) leaves the real state on screen. Nothing is written on creation.
Switch* boundSwitch(Binding<bool> binding, QWidget* parent = nullptr);

// A row of mutually exclusive segments bound to a string value; a stored value that names no
// segment selects none.
class SegmentedPicker : public QWidget {
    Q_OBJECT
public:
    using Options = QList<QPair<QString, QString>>; // (shown text, stored value)
    SegmentedPicker(Options options, Binding<QString> binding, QWidget* parent = nullptr);
    void setTexts(const QStringList& texts);
    QString value() const;
    QList<QAbstractButton*> segments() const { return segments_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void sync();
    Options options_;
    Binding<QString> binding_;
    QList<QAbstractButton*> segments_;
};

// A pop-up menu of entries bound to a string value; a stored value that names no entry shows
// none selected until the user picks one.
class PopUp : public QComboBox {
    Q_OBJECT
public:
    using Options = SegmentedPicker::Options;
    PopUp(Options options, Binding<QString> binding, QWidget* parent = nullptr);

private:
    void sync();
    Binding<QString> binding_;
};

// A whole-number stepper with its limits; the label is the value and a unit ("25 min").
class Stepper : public QSpinBox {
    Q_OBJECT
public:
    Stepper(int minimum, int maximum, const QString& unit, Binding<int> binding, QWidget* parent = nullptr);

private:
    void sync();
    Binding<int> binding_;
};

// A one-line text field that stores every keystroke as typed.
class BoundLineEdit : public QLineEdit {
    Q_OBJECT
public:
    BoundLineEdit(Binding<QString> binding, int width, QWidget* parent = nullptr);

private:
    void sync();
    Binding<QString> binding_;
};

// A wheel turned over a control without the keyboard focus scrolls the page instead: a pointer
// passing over a pop-up, a stepper or a slider while the user scrolls changes no setting. The
// wheel no longer gives the focus; once the control has it, the wheel changes it as usual.
void scrollPastUnlessFocused(QWidget* control);

// The push buttons of the pages and the wizard share one padding, so no text touches its
// border: bordered, in the palette's colours, or prominent, filled with a tint (the accent
// when none is given) with white text.
enum class ButtonKind { bordered, prominent };
constexpr int buttonPaddingX = 12, buttonPaddingY = 4;
void styleButton(QPushButton* button, ButtonKind kind = ButtonKind::bordered, QColor tint = {});
QPushButton* blockButton(const QString& text, ButtonKind kind = ButtonKind::bordered, QColor tint = {},
                         QWidget* parent = nullptr);

// Gives a scroll area a thin vertical bar without arrows, in the palette's text colour, laid over
// the right margin of its content instead of beside it: the bar comes and goes with the need
// to scroll and the content keeps its width. The area's own bar still holds range and value.
void thinScrollBar(QAbstractScrollArea* area);

} // namespace lomex
