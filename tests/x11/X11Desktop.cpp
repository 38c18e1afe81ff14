#include "X11Desktop.h"
#include "TestEnv.h"
#include <QFileInfo>
#include <QStandardPaths>
#include <csignal>
#include <fcntl.h>
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

bool exited(pid_t pid) {
    int status = 0;
    return ::waitpid(pid, &status, WNOHANG) == pid;
}

bool waitFor(const std::function<bool()>& pred, int timeoutMs) {
    for (int waited = 0; waited < timeoutMs; waited += 20) {
        if (pred()) return true;
        ::usleep(20000);
    }
    return pred();
}
} // namespace

X11Desktop* X11Desktop::current() { return g_current; }
void X11Desktop::setCurrent(X11Desktop* desktop) { g_current = desktop; }

bool X11Desktop::start(const QString& size) {
    const QString xvfb = QStandardPaths::findExecutable("Xvfb");
    const QString openbox = QStandardPaths::findExecutable("openbox");
    if (xvfb.isEmpty() || openbox.isEmpty()) return false;
    // Other test processes run at the same time: take a display nobody holds.
    for (int n = 100 + int(::getpid() % 800); n < 1000; ++n) {
        if (QFileInfo::exists(QString("/tmp/.X11-unix/X%1").arg(n)) || QFileInfo::exists(QString("/tmp/.X%1-lock").arg(n)))
            continue;
        const QString display = QString(":%1").arg(n);
        const pid_t server = forkExec({xvfb, display, "-nolisten", "tcp", "-screen", "0", size + "x24"}, {});
        if (server <= 0) return false;
        pids_.push_back(server);
        if (!waitFor([&] { return QFileInfo::exists(QString("/tmp/.X11-unix/X%1").arg(n)) || exited(server); }, 5000))
            return false;
        if (exited(server)) {
            pids_.pop_back();
            continue; // lost a race for the display
        }
        display_ = display;
        pids_.push_back(forkExec({openbox, "--sm-disable"}, display_));
        return true;
    }
    return false;
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
