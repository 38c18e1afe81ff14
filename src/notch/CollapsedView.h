#pragma once
#include "notch/NotchModel.h"
#include <QWidget>
#include <optional>

namespace lomex {

// The closed notch: the black pill with the live activity on its left and right sides and the
// empty middle of notchSize width.
class CollapsedView : public QWidget {
    Q_OBJECT
public:
    CollapsedView(NotchModel* model, QWidget* parent = nullptr);
    // Symbol name shown on the left for the current live activity; empty for none.
    QString leftSymbol() const;
    // Short text on the right (a notice's percent), empty otherwise.
    QString rightText() const;
    // Widgets placed over the sides draw this activity themselves: the pill leaves its sides
    // empty then (only the black outline beneath shows, with its round corners).
    void leaveSidesTo(NotchModel::Live live);

protected:
    void paintEvent(QPaintEvent*) override;

private:
    NotchModel* model_;
    std::optional<NotchModel::Live> drawnElsewhere_;
};

} // namespace lomex
