#include "PrivateBus.h"
#include "TestEnv.h"
#include <QStandardPaths>
#include <csignal>
#include <sys/prctl.h>

namespace lomex::test {

bool PrivateBus::start() {
    const QString daemon = QStandardPaths::findExecutable("dbus-daemon");
    if (daemon.isEmpty()) return false;
    daemon_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    daemon_.start(daemon, {"--session", "--nofork", "--print-address=1"});
    if (!daemon_.waitForStarted(5000)) return false;
    if (!waitUntil([&] { return daemon_.canReadLine() || daemon_.waitForReadyRead(50); }, 5000)) return false;
    address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
    return !address_.isEmpty();
}

PrivateBus::~PrivateBus() {
    daemon_.terminate();
    if (!daemon_.waitForFinished(3000)) daemon_.kill();
}

} // namespace lomex::test
