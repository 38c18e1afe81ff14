#pragma once
#include <QColor>
#include <QFont>
#include <QWidget>

namespace lomex::style {

// The named colours the settings window uses, as the desktop's light or dark palette gives
// them where it has one (primary text, accent), else fixed sRGB values.
enum class Named { gray, orange, red, teal, blue, mint, purple, indigo, green, secondary };

QColor named(Named colour, const QWidget* w);
QColor primary(const QWidget* w);                    // text colour of the palette
QColor primary(const QWidget* w, double opacity);    // the same at an opacity
QColor secondary(const QWidget* w);                  // secondary text
QColor accent(const QWidget* w);                     // the palette's highlight

// Whether a painted control should draw its focus ring: it has the focus and the user moved it
// there with the keyboard, so a mouse click or the window opening draws no ring.
bool showsFocusRing(const QWidget* w);

// The system font at a pixel size and weight.
QFont font(double pixelSize, QFont::Weight weight = QFont::Normal);
// Sizes of the text styles the pages name.
constexpr double body = 13, callout = 12, caption = 11, cardTitle = 10.5;

// A rounded rectangle in the primary colour at an opacity, with an optional hairline outline
// (opacity 0 for none); the backdrop of cards, segmented pickers and key caps.
class RoundedPanel : public QWidget {
public:
    RoundedPanel(qreal radius, double fillOpacity, double strokeOpacity, QWidget* parent = nullptr)
        : QWidget(parent), radius_(radius), fill_(fillOpacity), stroke_(strokeOpacity) {}

protected:
    void paintEvent(QPaintEvent*) override;

private:
    qreal radius_;
    double fill_, stroke_;
};

} // namespace lomex::style
