#include "device/PomodoroTimer.h"
#include "core/Log.h"
#include "core/Settings.h"
#include <algorithm>

namespace lomex {

PomodoroTimer::PomodoroTimer(Settings* settings, QObject* parent)
    : QObject(parent), settings_(settings ? settings : &Settings::shared()) {}

int PomodoroTimer::total() const {
    const int minutes = phase_ == Phase::work ? settings_->get(keys::workMinutes)
                                              : settings_->get(keys::breakMinutes);
    // Bounded above too, so a hand-edited huge value cannot overflow the seconds.
    return std::clamp(minutes, 1, 24 * 60) * 60;
}

int PomodoroTimer::remaining(int elapsedSeconds) const { return std::max(0, total() - std::max(0, elapsedSeconds)); }

QString PomodoroTimer::shortcutName(bool focusOn) const {
    QString name = settings_->get(focusOn ? keys::focusShortcutOn : keys::focusShortcutOff);
    // White space other than line breaks: space separators and the tab.
    auto isBlank = [](QChar c) { return c == QLatin1Char('\t') || c.category() == QChar::Separator_Space; };
    int start = 0, end = int(name.size());
    while (start < end && isBlank(name[start])) ++start;
    while (end > start && isBlank(name[end - 1])) --end;
    return name.mid(start, end - start);
}

QString PomodoroTimer::runShortcut(bool focusOn) {
    const QString name = shortcutName(focusOn);
    if (name.isEmpty()) return {};
    if (!loggedNoShortcuts_) {
        loggedNoShortcuts_ = true;
        log("focus shortcut \"" + name.left(80) + "\" not run: nothing on this system runs named shortcuts");
    }
    return name;
}

} // namespace lomex
