#pragma once
#include <QString>
#include <QStringList>
#include <memory>

namespace lomex {

// Opens a script in a new terminal window of the user's desktop, the way a double-clicked
// ".command" file opens in Terminal elsewhere: x-terminal-emulator first, then the terminals
// most desktops ship. Programs are started detached with argument lists, never a shell string.
class Terminal {
public:
    virtual ~Terminal() = default;
    // Whether a terminal was started with the script.
    virtual bool openScript(const QString& scriptPath) = 0;

    // The layer used when none is handed in: the desktop's unless a test installed another.
    static Terminal* current();
    static void setCurrent(Terminal* terminal); // nullptr restores the desktop layer
};

class DesktopTerminal : public Terminal {
public:
    struct Candidate {
        QString program;
        QStringList argsBeforeScript; // the script path follows these
    };
    // The terminals tried, in order.
    static const QList<Candidate>& candidates();
    bool openScript(const QString& scriptPath) override;
};

} // namespace lomex
