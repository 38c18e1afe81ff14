#pragma once
#include <QObject>
#include <QString>

namespace lomex {

class Settings;

// The focus timer, as far as the settings pages need it: the length of a phase and the hooks
// that run the user's focus shortcuts. The running timer and its tab come with the timer view.
class PomodoroTimer : public QObject {
    Q_OBJECT
public:
    enum class Phase { work, rest };

    explicit PomodoroTimer(Settings* settings = nullptr, QObject* parent = nullptr);

    Phase phase() const { return phase_; }
    void setPhase(Phase phase) { phase_ = phase; }
    // Seconds of the current phase: "workMinutes" or "breakMinutes", at least 1, times 60,
    // read at each call.
    int total() const;
    // How long the running phase has left, never below zero: a phase the user shortened while
    // it ran is simply over.
    int remaining(int elapsedSeconds) const;

    // The shortcut named under "focusShortcutOn" / "focusShortcutOff", trimmed of blanks and
    // tabs (not line breaks); empty when none. Called on resuming a work phase (on), and on
    // pausing or finishing one (off).
    QString shortcutName(bool focusOn) const;
    // Runs that shortcut. Nothing here runs named shortcuts: a named one is logged once and
    // nothing runs. Returns the name it would have run.
    QString runShortcut(bool focusOn);

private:
    Settings* settings_;
    Phase phase_ = Phase::work;
    bool loggedNoShortcuts_ = false;
};

} // namespace lomex
