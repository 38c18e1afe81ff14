#pragma once
#include <QWidget>

class QLabel;
class QPlainTextEdit;

namespace lomex {

class Clock;
class Timer;

// The note tab: one free-text note stored under "note". Writing the settings file takes
// milliseconds (more for a long note), so the note is stored once typing pauses, and at once
// by save() (the notch closing, the app quitting) and when the view goes. Follows changes made
// elsewhere, except one equal to its own text, so typing never loses the cursor, selection or
// undo history; text typed but not yet stored is never replaced. A note that cannot be stored
// stays in the editor, a line under it names the file, and it is tried again at the next
// change and every few seconds until it is stored. The note is bounded (keys::note.maxChars):
// a paste past the bound is cut there and typing past it is refused, with a line saying so.
class NoteView : public QWidget {
    Q_OBJECT
public:
    explicit NoteView(Clock* clock = nullptr, QWidget* parent = nullptr);
    ~NoteView() override;
    QPlainTextEdit* editor() const { return editor_; }
    // Stores what was typed and not yet stored, now.
    void save();

protected:
    void paintEvent(QPaintEvent*) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void load();
    void edited();
    void retranslate();
    void showError();
    void showTooLong();
    QPlainTextEdit* editor_;
    QLabel* error_;
    Timer* pause_;
    Timer* retry_;
    bool unsaved_ = false;
    bool saving_ = false;
    // Handed to the settings, not yet known to be in the file.
    bool awaiting_ = false;
    bool tooLongShown_ = false;
};

} // namespace lomex
