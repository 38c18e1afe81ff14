#pragma once
#include "feeds/TransitService.h"
#include "feeds/WeatherService.h"
#include <QColor>
#include <QDateTime>
#include <QUrl>
#include <QWidget>

class QLabel;

namespace lomex {

class Calendar;
class L10n;

// Colours of text on the black notch.
namespace notchcolor {
QColor grey();
QColor orange();
QColor red();
QColor yellow();
QColor green();
} // namespace notchcolor

// A tooltip that shows text from outside as it is: Qt reads a tooltip that looks like markup
// as rich text, so the text goes in escaped.
QString plainToolTip(const QString& text);

// A plain-text label of the notch at a pixel size, named for tests.
QLabel* notchLabel(QWidget* parent, const char* name, const QString& text, double px, const QColor& color,
                   QFont::Weight weight = QFont::Normal);
// The same for one line of outside text: given too little width it ends in "…" (an ElidedLabel).
QLabel* notchLineLabel(QWidget* parent, const char* name, const QString& text, double px, const QColor& color,
                       QFont::Weight weight = QFont::Normal);

// One public-transit departure: the line badge, destination and detail line, and how soon it
// leaves. Made anew with each `now` (the transit tab's 15-second timeline); keeps no timer.
class DepartureRow : public QWidget {
    Q_OBJECT
public:
    DepartureRow(const TransitService::Departure& departure, const QDateTime& now, QWidget* parent = nullptr);

    // Whole minutes from now to the departure, rounded down (59 s ahead is 0, 30 s past is −1).
    static int minutesUntil(const QDateTime& now, const QDateTime& time);
    // The right-hand text: cancelled, "now", "N min", or the clock time from an hour on.
    static QString timeLeftText(const TransitService::Departure& d, const QDateTime& now, const L10n& l,
                                const Calendar& calendar);
    // Orange from 2 minutes down, whatever the text says; white otherwise.
    static QColor timeLeftColor(int minutes);

    const TransitService::Departure& departure() const { return d_; }
    QLabel* label(const char* name) const; // "headsign", "weekday", "time", "live", "platform", "delay", "left"

private:
    TransitService::Departure d_;
};

// One official weather warning on a line, in its level's colour, with its end and the number
// of further warnings; a click opens the national weather service's warnings page.
class WarningLine : public QWidget {
    Q_OBJECT
public:
    WarningLine(const WeatherService::Warning& warning, int more, QWidget* parent = nullptr);

    // Red from level 4, orange at 3, yellow below.
    static QColor levelColor(int level);
    // Area, description and instruction, the empty ones left out, a blank line between.
    static QString tooltipText(const WeatherService::Warning& warning);
    static QUrl warningsPage();

    QLabel* label(const char* name) const; // "event", "until", "more"

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

} // namespace lomex
