#pragma once
#include <QObject>
#include <functional>

class QSocketNotifier;

namespace lomex {

// Turns the signals that ask a desktop program to end (SIGTERM from a logout or
// `systemctl --user stop`, SIGINT from a terminal, SIGHUP when that terminal goes) into a call
// on the GUI thread, so the app quits its normal way: held hooks answered, the clipboard put
// back, files written. The handler only writes the signal's number into a pipe that the event
// loop watches. One instance at a time; its end gives the signals their default action back.
class QuitSignals : public QObject {
    Q_OBJECT
public:
    explicit QuitSignals(std::function<void(int signal)> onSignal, QObject* parent = nullptr);
    ~QuitSignals() override;
    QuitSignals(const QuitSignals&) = delete;
    QuitSignals& operator=(const QuitSignals&) = delete;

    // Whether the handlers are in place (false when the pipe could not be made).
    bool isActive() const { return notifier_ != nullptr; }

private:
    void drain();

    std::function<void(int)> onSignal_;
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace lomex
