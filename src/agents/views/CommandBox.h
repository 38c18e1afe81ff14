#pragma once
#include <QPlainTextEdit>
#include <functional>

namespace lomex {

// The command of a permission request as it will run: every line, read-only, wrapped and
// scrollable, up to six laid-out lines high and only whole lines. Laying out a long command
// costs milliseconds per card (an unbroken one far more), and many requests come at once: the
// box holds the command's first part at first and the rest once the user scrolls. Copying
// gives the exact command, held or not.
class CommandBox : public QPlainTextEdit {
public:
    static constexpr int maxLines = 6;
    // What the box holds and lays out at first, in UTF-16 units: many more lines than it shows
    // at any width. A longer command gets the rest when the box is scrolled.
    static constexpr qsizetype layOutAtOnce = 4096;
    // A run without a blank longer than this is broken anywhere whichever mode wraps it; finding
    // the end of such a run again for every line makes word wrapping quadratic in its length,
    // so a command that has one wraps anywhere, as a terminal does.
    static constexpr qsizetype longRun = 256;

    CommandBox(const QString& command, QWidget* parent = nullptr);
    // The box's font, fixed-width. Loading it the first time takes milliseconds.
    static QFont commandFont();

    // The exact command, however much of it the box holds.
    const QString& command() const { return command_; }
    // All of the command is in the box.
    bool isComplete() const { return held_ == command_.size(); }
    // Called with the lines as laid out at the box's width whenever they are counted anew;
    // complete is false while the box holds only the command's first part.
    std::function<void(int lines, bool complete)> onLinesCounted;

protected:
    void resizeEvent(QResizeEvent* event) override;
    QMimeData* createMimeDataFromSelection() const override;

private:
    void holdRest();
    void fit();
    // The index in the command of a position in the document.
    qsizetype commandIndex(int position) const;

    QString command_;
    qsizetype held_ = 0; // units of the command in the document
};

} // namespace lomex
