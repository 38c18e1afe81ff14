#pragma once
#include "TestEnv.h"
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
        // Other test programs start servers at the same time: the server picks a free display
        // itself and writes its number on its standard output.
        endsWithTest(process_); // no server left behind by a test that crashes
        process_.start(xvfb, {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "800x600x24"});
        if (!process_.waitForStarted(3000)) return false;
        QByteArray number;
        while (!number.endsWith('\n') && process_.waitForReadyRead(5000)) number += process_.readAllStandardOutput();
        bool ok = false;
        const int n = number.trimmed().toInt(&ok);
        if (!ok) return false;
        name_ = QString(":%1").arg(n);
        return true;
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
