#pragma once
#include <QWidget>

namespace lomex {

class NotchModel;

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

protected:
    void paintEvent(QPaintEvent*) override;

private:
    NotchModel* model_;
};

} // namespace lomex
