#pragma once
#include <QColor>
#include <QPixmap>

class QLabel;
class QPushButton;
class QString;
class QWidget;

// Pieces the agents list, its cards and rows are made of.
namespace lomex::agentviews {

// Secondary text on the black notch.
inline const QColor kDim(255, 255, 255, 150);

void setLabelColor(QLabel* label, const QColor& color);
// Outside text: one line, cut to the width.
void setPlainText(QLabel* label, const QString& text);
// Outside text: shown verbatim, one line, cut to the width.
QLabel* plainLabel(const QString& text, int pixelSize, const QColor& color, bool bold, QWidget* parent,
                   QLabel* label = nullptr);
// A flat button of a card, named for the list's style sheet ("approvalAllow", "approvalAlways",
// "approvalDeny").
QPushButton* button(const QString& text, const QString& name, QWidget* parent);
// How the cards and rows look: set once on the list that holds them, since many requests or
// sessions can arrive at once and a sheet set on each widget is parsed again for each.
QString cardStyleSheet();
// A round dot of the colour, drawn for the screen's pixel ratio.
QPixmap dot(const QColor& color, int size, qreal devicePixelRatio);

} // namespace lomex::agentviews
