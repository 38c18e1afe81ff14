#pragma once
#include <QPlainTextEdit>
#include <functional>

class QTimer;

namespace lomex {

// The command of a permission request as it will run: every line, read-only, wrapped anywhere
// and scrollable, up to six laid-out lines high and only whole lines. A long command is laid
// out once, at the box's final width, in an event-loop pass after the one that shows its card.
class CommandBox : public QPlainTextEdit {
public:
    static constexpr int maxLines = 6;
    // Longer commands cost milliseconds to lay out: they come a pass later.
    static constexpr qsizetype layOutAtOnce = 2000;

    CommandBox(const QString& command, QWidget* parent = nullptr);
    // The box's font, fixed-width. Loading it the first time takes milliseconds.
    static QFont commandFont();

    // The whole command is in the box.
    bool isFilled() const { return filled_; }
    // Called once when a long command has come into the box.
    std::function<void()> onFilled;
    // Called with the lines as laid out at the box's width whenever they are counted anew.
    std::function<void(int lines)> onLinesCounted;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void fill();
    void fit();

    QString pending_; // the command until it is in the box
    QTimer* fillTimer_ = nullptr;
    bool filled_ = true;
};

} // namespace lomex
