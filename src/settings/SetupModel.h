#pragma once
#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>

namespace lomex {

class Clock;
class Timer;
class UsageMonitor;

// What the setup wizard shows: calendar, reminders and Accessibility access, and whether the
// coding agent's command-line tool `claude` is installed and signed in. Polls every 2 s while
// the wizard is on screen. Lives on the GUI thread; the sign-in check runs `claude auth status`
// on a worker thread, one at a time, with a time limit; a check still running when the model
// goes is ended at once, so quitting never waits for it. Owned by the app delegate.
class SetupModel : public QObject {
    Q_OBJECT
public:
    static constexpr double pollSeconds = 2.0;
    // A status command that has not answered by then counts as signed out.
    static constexpr int checkTimeoutMs = 15'000;
    // Its answer is a small JSON object; more output than this is not one.
    static constexpr qint64 maxCheckOutput = 64 << 10;
    static constexpr const char* scriptName = "setup-claude.sh";
    // The vendor's official installer, fetched over https only.
    static constexpr const char* installerURL = "https://claude.ai/install.sh";

    explicit SetupModel(UsageMonitor* usage, Clock* clock = nullptr, QObject* parent = nullptr);
    ~SetupModel() override;

    bool calendar() const { return calendar_; }
    bool reminders() const { return reminders_; }
    bool accessibility() const { return accessibility_; }
    bool claudeInstalled() const { return claudeInstalled_; }
    bool claudeLoggedIn() const { return claudeLoggedIn_; }
    bool claudeBusy() const { return claudeBusy_; }
    // The setup script last opened stopped at a failed step; cleared by the next setupClaude().
    bool claudeFailed() const { return claudeFailed_; }
    bool allRequiredDone() const { return calendar_ && reminders_ && accessibility_; }

    // Where the system answers come from; the delegate points them at its services. Unset
    // questions answer false.
    std::function<bool()> calendarAccess;
    std::function<bool()> remindersAccess;
    std::function<bool()> accessibilityTrusted;

    // Refreshes at once and (re)starts the 2 s poll; never two timers.
    void startPolling();
    // The wizard left the screen.
    void stopPolling();
    bool isPolling() const;
    // Reads every flag anew; may start one sign-in check.
    void refresh();
    bool isChecking() const { return checking_; }
    // Sign-in checks started so far (tests).
    int checksStarted() const { return checksStarted_; }

    // Turns usage monitoring on, installs the status-line bridge, writes the setup script and
    // opens it in a terminal. `czech` picks the script's language.
    void setupClaude(bool czech);

    // Runs `<claude> auth status`: true only for a JSON object whose "loggedIn" is true. A tool
    // that cannot start, hangs past the time limit or prints anything else counts as signed out.
    // Setting `cancelled` (from any thread) ends the tool within a few milliseconds.
    static bool isLoggedIn(const QString& claudePath, int timeoutMs = checkTimeoutMs,
                           const std::atomic_bool* cancelled = nullptr);
    // The setup script; `claudePath` is the installed tool, empty when it is missing.
    static QString scriptText(bool czech, const QString& claudePath);
    static QString scriptPath();
    // Where the script marks a failed step for the poll to find.
    static QString failureMarkPath();

Q_SIGNALS:
    // Any flag was assigned.
    void changed();

private:
    void finishCheck(bool loggedIn);

    UsageMonitor* usage_;
    Clock* clock_;
    Timer* timer_;
    bool calendar_ = false;
    bool reminders_ = false;
    bool accessibility_ = false;
    bool claudeInstalled_ = false;
    bool claudeLoggedIn_ = false;
    bool claudeBusy_ = false;
    bool claudeFailed_ = false;
    bool checking_ = false;
    int checksStarted_ = 0;
    // Shared with the running check, which outlives the model when the app quits.
    std::shared_ptr<std::atomic_bool> cancelCheck_ = std::make_shared<std::atomic_bool>(false);
};

} // namespace lomex
