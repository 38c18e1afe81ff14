#pragma once
#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <map>
#include <optional>

namespace lomex::test {

// Gives each test a fresh temporary HOME and XDG folders, and fresh shared Settings/L10n.
// Restores the environment afterwards.
class TempHome {
public:
    TempHome();
    ~TempHome();
    QString path() const { return dir_.path(); }
    QString file(const QString& relative) const { return dir_.path() + "/" + relative; }
    // Writes a file below the home (parents made); returns its absolute path.
    QString write(const QString& relative, const QByteArray& content) const;

private:
    QTemporaryDir dir_;
    std::map<QByteArray, std::optional<QByteArray>> saved_;
};

// Base fixture: every test runs in its own TempHome.
class LomexTest : public ::testing::Test {
protected:
    TempHome home;
};

// Makes the process, once started, get SIGKILL when the test process ends, however it ends
// (an abort or a sanitizer report included), so no Xvfb or terminal outlives its test.
void endsWithTest(QProcess& process);

// Sets LOMEX_REDUCED_MOTION ("1" instant, "0" animated, nullptr unset) for one scope and puts
// the old value back.
class ReducedMotion {
public:
    explicit ReducedMotion(const char* value);
    ~ReducedMotion();

private:
    std::optional<QByteArray> saved_;
};

// Whether anything under root is still animating: a running animation or a fading picture.
bool moving(const QObject* root);

// Spins the Qt event loop until pred is true or the timeout (ms) passes; returns pred().
bool waitUntil(const std::function<bool()>& pred, int timeoutMs = 5000);

} // namespace lomex::test
