#include "X11Desktop.h"
#include "TestEnv.h"
#include <QStandardPaths>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <functional>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace lomex::test {

namespace {
X11Desktop* g_current = nullptr;

void dieWithParent(QProcess* p) {
    p->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

// Started before Qt exists, so no QProcess: a child that is killed when this process dies.
pid_t forkExec(const QStringList& argv, const QString& display) {
    std::vector<QByteArray> bytes;
    for (const QString& a : argv) bytes.push_back(a.toLocal8Bit());
    std::vector<char*> args;
    for (QByteArray& b : bytes) args.push_back(b.data());
    args.push_back(nullptr);
    const QByteArray displayValue = display.toLocal8Bit();
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);
    if (!displayValue.isEmpty()) ::setenv("DISPLAY", displayValue.constData(), 1);
    const int devnull = ::open("/dev/null", O_RDWR);
    ::dup2(devnull, 0);
    ::dup2(devnull, 1);
    ::execv(args[0], args.data());
    ::_exit(127);
}

} // namespace

X11Desktop* X11Desktop::current() { return g_current; }
void X11Desktop::setCurrent(X11Desktop* desktop) { g_current = desktop; }

bool X11Desktop::start(const QString& size) {
    const QString xvfb = QStandardPaths::findExecutable("Xvfb");
    const QString openbox = QStandardPaths::findExecutable("openbox");
    if (xvfb.isEmpty() || openbox.isEmpty()) return false;
    // Other test processes start servers at the same time: the server picks a free display
    // itself and tells which through a pipe.
    int fds[2];
    if (::pipe(fds) != 0) return false;
    const pid_t server = forkExec({xvfb, "-displayfd", QString::number(fds[1]), "-nolisten", "tcp", "-screen", "0", size + "x24"}, {});
    ::close(fds[1]);
    if (server <= 0) {
        ::close(fds[0]);
        return false;
    }
    pids_.push_back(server);
    QByteArray number;
    pollfd p {fds[0], POLLIN, 0};
    while (!number.endsWith('\n') && ::poll(&p, 1, 5000) > 0) {
        char buf[16];
        const ssize_t n = ::read(fds[0], buf, sizeof buf);
        if (n <= 0) break;
        number.append(buf, int(n));
    }
    ::close(fds[0]);
    bool ok = false;
    const int n = number.trimmed().toInt(&ok);
    if (!ok) return false;
    display_ = QString(":%1").arg(n);
    pids_.push_back(forkExec({openbox, "--sm-disable"}, display_));
    return true;
}

void X11Desktop::stopHelpers() {
    for (auto it = processes_.rbegin(); it != processes_.rend(); ++it) {
        (*it)->kill();
        (*it)->waitForFinished(2000);
    }
    processes_.clear();
}

X11Desktop::~X11Desktop() {
    stopHelpers();
    for (auto it = pids_.rbegin(); it != pids_.rend(); ++it) {
        ::kill(*it, SIGTERM);
        ::waitpid(*it, nullptr, 0);
    }
}

QProcess* X11Desktop::spawn(const QString& program, const QStringList& args, const QProcessEnvironment& env) {
    auto p = std::make_unique<QProcess>();
    QProcessEnvironment e = env;
    if (!display_.isEmpty()) e.insert("DISPLAY", display_);
    p->setProcessEnvironment(e);
    p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    dieWithParent(p.get());
    p->start(program, args);
    processes_.push_back(std::move(p));
    return processes_.back().get();
}

quint64 X11Desktop::startXterm(const QStringList& args) {
    QProcess* xterm = spawn("xterm", QStringList{"-xrm", "*wmTimeout: 500"} + args);
    // This one: a window of the test before may still have the focus.
    const QString pid = QString(" = %1").arg(xterm->processId());
    quint64 id = 0;
    const bool focused = waitUntil([&] {
        id = activeWindow();
        return id != 0 && run("xprop", {"-id", QString::number(id), "_NET_WM_PID"}).endsWith(pid);
    }, 10000);
    return focused ? id : 0;
}

QString X11Desktop::run(const QString& program, const QStringList& args, int timeoutMs) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", display_);
    p.setProcessEnvironment(env);
    dieWithParent(&p);
    p.start(program, args);
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(1000);
        return {};
    }
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

bool X11Desktop::waitForManager() {
    // The manager is up once it has announced itself on the root window.
    return waitUntil([&] { return run("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"}).contains("window id"); }, 5000);
}

quint64 X11Desktop::activeWindow() {
    // "_NET_ACTIVE_WINDOW(WINDOW): window id # 0x400007"
    const QString out = run("xprop", {"-root", "_NET_ACTIVE_WINDOW"});
    const int hash = out.lastIndexOf("# ");
    if (hash < 0) return 0;
    return out.mid(hash + 2).section(',', 0, 0).trimmed().toULongLong(nullptr, 16);
}

} // namespace lomex::test
