#pragma once
#include <QElapsedTimer>
#include <QObject>

class QWidget;

namespace lomex {

// Keeps a window that appears on its own (the setup wizard at launch) from acting on keys
// meant for the window the user was typing in: for a short moment after the window is shown
// or brought back from minimised, every key press and release in it is dropped.
class KeyGuard : public QObject {
    Q_OBJECT
public:
    // How long keys are dropped: longer than a burst typed before the window was noticed,
    // shorter than it takes to read the window and reach for a key.
    static constexpr int kMilliseconds = 1000;

    explicit KeyGuard(QWidget* window);
    // Starts the moment again (the window was brought to the front).
    void restart();
    bool active() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* window_;
    QElapsedTimer since_;
};

} // namespace lomex
