#pragma once
#include <QElapsedTimer>
#include <QObject>

class QWidget;

namespace lomex {

// Keeps a window that appears on its own (the setup wizard at launch) from acting on keys
// meant for the window the user was typing in: after the window is shown or brought back from
// minimised, keys in it are dropped until none has come for a short moment. Each dropped key
// starts the moment again, so someone still typing elsewhere never acts on the window.
class KeyGuard : public QObject {
    Q_OBJECT
public:
    // The quiet that ends the dropping: longer than the pause between keys of someone typing,
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
