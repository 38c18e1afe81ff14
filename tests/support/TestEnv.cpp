#include "TestEnv.h"
#include "core/L10n.h"
#include "core/Settings.h"
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <csignal>
#include <sys/prctl.h>
#include <QVariantAnimation>
#include <QWidget>

namespace lomex::test {

TempHome::TempHome() {
    const QString root = dir_.path();
    const std::map<QByteArray, QString> vars = {
        {"HOME", root},
        {"XDG_CONFIG_HOME", root + "/.config"},
        {"XDG_DATA_HOME", root + "/.local/share"},
        {"XDG_CACHE_HOME", root + "/.cache"},
        {"XDG_RUNTIME_DIR", root + "/run"},
    };
    for (const auto& [name, value] : vars) {
        saved_[name] = qEnvironmentVariableIsSet(name.constData()) ? std::optional(qgetenv(name.constData())) : std::nullopt;
        QDir().mkpath(value);
        qputenv(name.constData(), value.toUtf8());
    }
    QFile::setPermissions(root + "/run", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    Settings::resetShared();
    L10n::resetShared();
    L10n::setPreferredLanguagesOverride(QStringList{"en-US"});
}

TempHome::~TempHome() {
    L10n::resetShared();
    Settings::resetShared();
    L10n::setPreferredLanguagesOverride(std::nullopt);
    for (const auto& [name, value] : saved_) {
        if (value) qputenv(name.constData(), *value);
        else qunsetenv(name.constData());
    }
}

QString TempHome::write(const QString& relative, const QByteArray& content) const {
    const QString p = file(relative);
    QDir().mkpath(QFileInfo(p).absolutePath());
    QFile f(p);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return {};
    f.write(content);
    return p;
}

ReducedMotion::ReducedMotion(const char* value) {
    if (qEnvironmentVariableIsSet("LOMEX_REDUCED_MOTION")) saved_ = qgetenv("LOMEX_REDUCED_MOTION");
    if (value) qputenv("LOMEX_REDUCED_MOTION", value);
    else qunsetenv("LOMEX_REDUCED_MOTION");
}

ReducedMotion::~ReducedMotion() {
    if (saved_) qputenv("LOMEX_REDUCED_MOTION", *saved_);
    else qunsetenv("LOMEX_REDUCED_MOTION");
}

bool moving(const QObject* root) {
    for (const QVariantAnimation* a : root->findChildren<QVariantAnimation*>(QStringLiteral("motion")))
        if (a->state() == QAbstractAnimation::Running) return true;
    for (const QWidget* w : root->findChildren<QWidget*>(QStringLiteral("motion.picture")))
        if (w->isVisible()) return true;
    return false;
}

bool waitUntil(const std::function<bool()>& pred, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!pred()) {
        if (timer.elapsed() > timeoutMs) return pred();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

void endsWithTest(QProcess& process) {
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

} // namespace lomex::test
