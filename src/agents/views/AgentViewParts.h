#pragma once
#include <QColor>

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
// A flat button of a card or of the empty state.
QPushButton* button(const QString& text, const QColor& color, QWidget* parent);

} // namespace lomex::agentviews
