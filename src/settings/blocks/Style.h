#pragma once
#include <QColor>
#include <QFont>

class QWidget;

namespace lomex::style {

// The named colours the settings window uses, as the desktop's light or dark palette gives
// them where it has one (primary text, accent), else fixed sRGB values.
enum class Named { gray, orange, red, teal, blue, mint, purple, indigo, green, secondary };

QColor named(Named colour, const QWidget* w);
QColor primary(const QWidget* w);                    // text colour of the palette
QColor primary(const QWidget* w, double opacity);    // the same at an opacity
QColor secondary(const QWidget* w);                  // secondary text
QColor accent(const QWidget* w);                     // the palette's highlight

// The system font at a pixel size and weight.
QFont font(double pixelSize, QFont::Weight weight = QFont::Normal);
// Sizes of the text styles the pages name.
constexpr double body = 13, callout = 12, caption = 11, cardTitle = 10.5;

} // namespace lomex::style
