#include "TestEnv.h"
#include "platform/LoginItem.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <sys/stat.h>

using namespace lomex;

namespace {
class LoginItemTest : public test::LomexTest {
protected:
    // A program file at path (its folders made).
    static void makeProgram(const QString& path) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("#!/bin/sh\n");
    }
    // A build folder (it holds a CMake cache) with its program; returns the program.
    QString makeBuild() const {
        makeProgram(build + "/lomex");
        QFile cache(build + "/CMakeCache.txt");
        EXPECT_TRUE(cache.open(QIODevice::WriteOnly));
        return build + "/lomex";
    }
    const QString build = home.path() + "/src/lomex/build";
    const QString installed = home.path() + "/.local/bin/lomex";
};
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

// Run from a build folder the entry would start that build; once Lomex runs installed, an entry
// left pointing into a build folder (or at a program that is gone) follows the installed program,
// while an entry that starts some other existing program is the user's and stays.
TEST_F(LoginItemTest, AnEntryLeftOnABuildFollowsTheInstalledProgram) {
    const QString built = makeBuild();
    const QString other = home.path() + "/bin/wrapper";
    makeProgram(installed);
    makeProgram(other);

    EXPECT_EQ(XdgAutostart(built).buildFolder(), build);
    EXPECT_EQ(XdgAutostart(installed).buildFolder(), QString());

    auto entryProgram = [] {
        QFile f(XdgAutostart::entryPath());
        if (!f.open(QIODevice::ReadOnly)) return QString();
        for (const QByteArray& line : f.readAll().split('\n')) {
            if (line.startsWith("Exec=")) return desktopentry::execArguments(QString::fromUtf8(line.mid(5))).value(0);
        }
        return QString();
    };
    struct Case {
        QString registeredBy; // empty: no entry
        QString runningAs;
        QString expected;     // the entry's program afterwards; empty: none
    };
    const QString gone = home.path() + "/old/lomex";
    const Case cases[] = {
        {built, installed, installed},
        {gone, installed, installed},
        {other, installed, other},
        {built, built, built},          // still running the build: nothing to follow
        {QString(), installed, QString()}, // switched off stays off
    };
    for (const Case& c : cases) {
        QFile::remove(XdgAutostart::entryPath());
        if (!c.registeredBy.isEmpty()) {
            ASSERT_FALSE(XdgAutostart(c.registeredBy).registerItem().has_value());
        }
        XdgAutostart(c.runningAs).refresh();
        EXPECT_EQ(entryProgram(), c.expected) << c.registeredBy.toStdString() << " / " << c.runningAs.toStdString();
    }
}

// An entry the user edited is theirs: when its command runs our program (through env, a wrapper
// or a shell line) it stays byte for byte. Only the program of an entry that starts a build or a
// program that is gone is replaced, and nothing else of the file changes.
TEST_F(LoginItemTest, AHandEditedEntryIsKeptByteForByte) {
    const QString built = makeBuild();
    const QString wrapper = home.path() + "/bin/start-lomex";
    const QString gone = home.path() + "/old/lomex";
    makeProgram(installed);
    makeProgram(wrapper);

    auto entry = [](const QString& exec) {
        return ("[Desktop Entry]\nType=Application\nName=Lomex\n# mine\nExec=" + exec +
                "\nX-GNOME-Autostart-Delay=10\nX-GNOME-Autostart-enabled=true\n")
            .toUtf8();
    };
    struct Case {
        QString exec;
        QString after; // empty: the same bytes
    };
    const Case cases[] = {
        {"env QT_SCALE_FACTOR=2 " + installed, {}},
        {"env QT_SCALE_FACTOR=2 " + installed + " -platform xcb", {}},
        {wrapper + " --quiet", {}},
        {"sh -c \"sleep 3; exec " + gone + "\"", {}},
        {"/usr/bin/env -u WAYLAND_DISPLAY QT_SCALE_FACTOR=2 " + built,
         "/usr/bin/env -u WAYLAND_DISPLAY QT_SCALE_FACTOR=2 " + installed},
        {"env QT_SCALE_FACTOR=2 " + gone, "env QT_SCALE_FACTOR=2 " + installed},
        {"\"" + built + "\" -platform xcb", installed + " -platform xcb"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.exec.toStdString());
        const QString path = home.write(".config/autostart/lomex.desktop", entry(c.exec));
        ASSERT_EQ(XdgAutostart(installed).status(), LoginItem::Status::enabled);
        XdgAutostart(installed).refresh();
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(QString::fromUtf8(f.readAll()), QString::fromUtf8(entry(c.after.isEmpty() ? c.exec : c.after)));
    }
}
