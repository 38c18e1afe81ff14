#pragma once
#include <QProcess>
#include <QString>
#include <QStringList>
#include <memory>
#include <sys/types.h>
#include <vector>

namespace lomex::test {

// A private X server (Xvfb on a free display) with the openbox window manager, for tests that
// need what only a real desktop does: focus, minimising, screens with their own scale. Every
// process started here is killed when the test process dies, however it dies.
class X11Desktop {
public:
    // The one desktop of this test process (started by its main); nullptr when none could start.
    static X11Desktop* current();
    static void setCurrent(X11Desktop* desktop);

    // size: of the one X screen, e.g. "3840x1200". Runs before Qt exists.
    bool start(const QString& size);
    // Once Qt runs: waits until the window manager has taken the screen.
    bool waitForManager();
    ~X11Desktop();
    // Kills what spawn() started (while Qt still runs).
    void stopHelpers();
    QString display() const { return display_; }

    // Starts a helper on this display; it dies with the test.
    QProcess* spawn(const QString& program, const QStringList& args,
                    const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment());
    // Starts an xterm with these arguments; its window once it has the keyboard focus, 0 when it
    // does not get it within 10 s. Left to itself xterm waits up to 5 s (Xt's wmTimeout) for the
    // window manager to answer its size request, and an openbox that has only just started may
    // never answer: half a second is plenty for one that does.
    quint64 startXterm(const QStringList& args);
    // Runs a short command on this display; its standard output, trimmed ("" on failure).
    QString run(const QString& program, const QStringList& args, int timeoutMs = 5000);
    // The window that has the keyboard focus per the window manager (_NET_ACTIVE_WINDOW), 0 for none.
    quint64 activeWindow();

private:
    QString display_;
    std::vector<std::unique_ptr<QProcess>> processes_;
    std::vector<pid_t> pids_; // the server and the manager
};

} // namespace lomex::test
