#include "TestEnv.h"
#include "platform/LoginItem.h"
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <sys/stat.h>

using namespace lomex;

namespace {
class LoginItemTest : public test::LomexTest {};
} // namespace

TEST_F(LoginItemTest, ExecLineRoundTrips) {
    const QList<QStringList> cases{
        {"/usr/bin/lomex"},
        {"/opt/My Apps/lomex"},
        {"/home/o'neil/\"quoted\" $HOME `tick` back\\slash/lomex", "--flag", "50%"},
        {"/tmp/tab\tand\nnewline/lomex"},
    };
    for (const QStringList& args : cases) {
        const QString line = desktopentry::execLine(args);
        EXPECT_FALSE(line.contains('\n'));
        EXPECT_EQ(desktopentry::execArguments(line), args) << line.toStdString();
    }
}

// The entry is written where desktops look, and a real desktop-entry reader (GLib's, through
// gio launch) starts the program at a path full of characters that need quoting.
TEST_F(LoginItemTest, AutostartEntryStartsTheProgramThroughADesktopEntryReader) {
    const QString dir = home.path() + "/bin dir/it's \"odd\" $x";
    QDir().mkpath(dir);
    const QString program = dir + "/lomex";
    const QString marker = home.path() + "/started";
    {
        QFile f(program);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QString("#!/bin/sh\necho \"$0\" > '%1'\n").arg(marker).toUtf8());
    }
    QFile::setPermissions(program, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    XdgAutostart item(program);
    EXPECT_EQ(item.status(), LoginItem::Status::notRegistered);
    ASSERT_FALSE(item.registerItem().has_value());
    EXPECT_EQ(item.status(), LoginItem::Status::enabled);
    EXPECT_EQ(XdgAutostart::entryPath(), home.path() + "/.config/autostart/lomex.desktop");

    const QString gio = QStandardPaths::findExecutable("gio");
    if (gio.isEmpty()) GTEST_SKIP() << "gio (libglib2.0-bin) is not installed";
    QProcess launch;
    launch.start(gio, {"launch", XdgAutostart::entryPath()});
    ASSERT_TRUE(launch.waitForFinished(10000));
    // The stub runs on its own: wait until it has written its whole line.
    QString started;
    ASSERT_TRUE(test::waitUntil(
        [&] {
            QFile m(marker);
            started = m.open(QIODevice::ReadOnly) ? QString::fromUtf8(m.readAll()) : QString();
            return started.endsWith('\n');
        },
        5000))
        << launch.readAllStandardError().constData();
    EXPECT_EQ(started.trimmed(), program);

    ASSERT_FALSE(item.unregisterItem().has_value());
    EXPECT_EQ(item.status(), LoginItem::Status::notRegistered);
    EXPECT_FALSE(item.unregisterItem().has_value()); // already gone is fine
}

TEST_F(LoginItemTest, DisabledOrBrokenEntriesReadAsOff) {
    XdgAutostart item("/usr/bin/lomex");
    for (const char* content : {"[Desktop Entry]\nType=Application\nExec=lomex\nHidden=true\n",
                                "[Desktop Entry]\nExec=lomex\nX-GNOME-Autostart-enabled=false\n",
                                "[Desktop Entry]\nType=Application\n", "not an entry"}) {
        home.write(".config/autostart/lomex.desktop", content);
        EXPECT_EQ(item.status(), LoginItem::Status::notRegistered) << content;
    }
    // A folder that cannot be written reports the failure and leaves the state as it is.
    QFile::remove(XdgAutostart::entryPath());
    ::chmod(QFile::encodeName(home.path() + "/.config/autostart").constData(), 0500);
    if (::geteuid() != 0) {
        EXPECT_TRUE(item.registerItem().has_value());
        EXPECT_EQ(item.status(), LoginItem::Status::notRegistered);
    }
    ::chmod(QFile::encodeName(home.path() + "/.config/autostart").constData(), 0700);
}
