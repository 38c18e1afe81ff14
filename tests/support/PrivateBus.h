#pragma once
#include <QProcess>
#include <QString>

namespace lomex::test {

// A dbus-daemon of one test's own, so a test can play a desktop service without touching the
// user's session; it dies with the test, even when the test aborts.
class PrivateBus {
public:
    // False when dbus-daemon is not installed or did not come up.
    bool start();
    QString address() const { return address_; }
    ~PrivateBus();

private:
    QProcess daemon_;
    QString address_;
};

} // namespace lomex::test
