#pragma once
#include <QWidget>

class QPlainTextEdit;

namespace lomex {

// The note tab: one free-text note stored under "note" at every keystroke. Follows changes
// made elsewhere, except one equal to its own text, so typing never loses the cursor,
// selection or undo history.
class NoteView : public QWidget {
    Q_OBJECT
public:
    explicit NoteView(QWidget* parent = nullptr);
    QPlainTextEdit* editor() const { return editor_; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    void load();
    void retranslate();
    QPlainTextEdit* editor_;
};

} // namespace lomex
