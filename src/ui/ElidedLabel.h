#pragma once
#include <QLabel>

namespace lomex {

// A one-line plain-text label that, given less width than its text needs, ends the text with
// "…" at a whole character instead of clipping it mid-letter. text() stays the whole text (the
// tooltip and screen readers keep it); only the drawing is shortened.
class ElidedLabel : public QLabel {
    Q_OBJECT
public:
    explicit ElidedLabel(QWidget* parent = nullptr);
    explicit ElidedLabel(const QString& text, QWidget* parent = nullptr);

    // What is drawn at the current width.
    QString shownText() const;
    // Shrinks down to the ellipsis; the layout decides how much of the text fits.
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace lomex
