#pragma once
#include "settings/blocks/Binding.h"
#include <QColor>
#include <QLabel>
#include <QLine>
#include <QList>
#include <QWidget>

class QVBoxLayout;
class QHBoxLayout;
class QLayout;

namespace lomex {

class Switch;

// The building blocks every settings page and the setup wizard are made of, so they all line up.
// They read no settings and call no service of their own: what they show is handed in.

// A rounded square in a colour's gradient with a white symbol in the middle.
class IconTile : public QWidget {
    Q_OBJECT
public:
    IconTile(QString symbol, QColor color, int size, QWidget* parent = nullptr);
    void setSymbol(const QString& symbol, const QColor& color);
    QString symbol() const { return symbol_; }
    QColor color() const { return color_; }
    QSize sizeHint() const override { return {size_, size_}; }
    qreal cornerRadius() const { return size_ * 0.24; }
    int glyphSize() const { return qRound(size_ * 0.5); }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QString symbol_;
    QColor color_;
    int size_;
};

// The inside of a card's box: rows stacked with no spacing, each padded 14 × 10, and a thin
// divider, inset 14 from the left, between every two rows that are shown. A hidden row takes
// no room and leaves no divider.
class DividedBox : public QWidget {
    Q_OBJECT
public:
    explicit DividedBox(QWidget* parent = nullptr);
    void addRow(QWidget* row);
    // Removes every row; they are deleted once the event that asked for it has returned.
    void clearRows();
    // The dividers as they are drawn now, in the box's coordinates.
    QList<QLine> dividerLines() const;

protected:
    void paintEvent(QPaintEvent*) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QVBoxLayout* layout_;
};

// A titled group: an upper-case caption and a rounded box holding the rows.
class Card : public QWidget {
    Q_OBJECT
public:
    explicit Card(const QString& title = {}, QWidget* parent = nullptr);
    void setTitle(const QString& title);
    QLabel* titleLabel() const { return title_; }
    DividedBox* box() const { return box_; }
    // For a card whose every control acts only in a view this version lacks: one badge with
    // the given text beside the caption, and every control disabled (showing what is stored).
    void markNotInVersion(const QString& badgeText);
    // Adds a row to the box; returns it for chaining.
    template <class W>
    W* add(W* row) {
        box_->addRow(row);
        return row;
    }

private:
    QLabel* title_;
    QHBoxLayout* head_;
    DividedBox* box_;
};

// Title, an optional detail that wraps to as many lines as it needs, and a trailing control
// at its natural size, vertically centred against the text.
class Row : public QWidget {
    Q_OBJECT
public:
    Row(const QString& title, const QString& detail = {}, QWidget* trailing = nullptr, QWidget* parent = nullptr);
    void setTexts(const QString& title, const QString& detail = {});
    QLabel* titleLabel() const { return title_; }
    QLabel* detailLabel() const { return detail_; }
    QWidget* trailing() const { return trailing_; }
    void setTrailing(QWidget* trailing);
    // For a wide control beside a long title and detail: the texts take the whole width and
    // the control goes under them, at the trailing edge.
    void placeTrailingBelow();
    // For a control that acts only in a view this version lacks: disabled (showing what is
    // stored), with a badge of the given text beside it that a screen reader hears with it.
    void markNotInVersion(const QString& badgeText);
    // A small widget of the row's own (a badge, a link button) under its title and detail.
    void addUnderTexts(QWidget* widget);

private:
    void describe(QWidget* trailing);
    void showTitle();
    QLabel* title_;
    QString titleText_;
    QLabel* detail_;
    QWidget* trailing_ = nullptr;
    QHBoxLayout* row_;
    QVBoxLayout* stack_;
    bool below_ = false;
};

// A row whose control is a switch bound to a value.
class ToggleRow : public Row {
    Q_OBJECT
public:
    ToggleRow(const QString& title, const QString& detail, Binding<bool> binding, QWidget* parent = nullptr);
    Switch* toggle() const { return switch_; }

private:
    Switch* switch_;
};

// A green confirmation: a check mark and a text while ok; nothing at all, taking no room,
// while not.
class StatusBadge : public QWidget {
    Q_OBJECT
public:
    StatusBadge(bool ok, const QString& okText, QWidget* parent = nullptr);
    void setState(bool ok, const QString& okText);
    bool ok() const { return ok_; }
    QString text() const { return text_->text(); }

private:
    bool ok_ = false;
    QLabel* icon_;
    QLabel* text_;
};

// The small grey capsule that marks a control this version has no view for ("notInVersion").
QLabel* notInVersionBadge(const QString& text, QWidget* parent);

// Takes every item out of a layout; its widgets are deleted once the current event returned.
void clearLayout(QLayout* layout);

// A plain label with outside or translated text, never rich text.
QLabel* plainLabel(const QString& text, double pixelSize, const QColor& color, QWidget* parent = nullptr,
                   QFont::Weight weight = QFont::Normal);

} // namespace lomex
