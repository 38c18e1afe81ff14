#pragma once
#include "TestEnv.h"
#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace lomex::test {

// A private Xvfb display, without a window manager, on a display number nobody else uses.
class XvfbDisplay {
public:
    bool start()
    {
        const QString xvfb = QStandardPaths::findExecutable("Xvfb");
        if (xvfb.isEmpty()) return false;
        for (int n = 500 + int(QCoreApplication::applicationPid() % 400); n < 1000; ++n) {
            if (QFileInfo::exists(QString("/tmp/.X11-unix/X%1").arg(n)) || QFileInfo::exists(QString("/tmp/.X%1-lock").arg(n)))
                continue;
            name_ = QString(":%1").arg(n);
            endsWithTest(process_);
            process_.start(xvfb, {name_, "-nolisten", "tcp", "-screen", "0", "800x600x24"});
            if (!process_.waitForStarted(3000)) return false;
            return waitUntil([&] { return QFileInfo::exists(QString("/tmp/.X11-unix/X%1").arg(n)); }, 5000);
        }
        return false;
    }
    ~XvfbDisplay()
    {
        process_.terminate();
        process_.waitForFinished(3000);
    }
    QString name() const { return name_; }

private:
    QString name_;
    QProcess process_;
};

} // namespace lomex::test
