#include "TestEnv.h"
#include "platform/DesktopAutomation.h"
#include <QCoreApplication>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace lomex;

TEST(ProcessesTest, LineageWalksUpFromTheProcess)
{
    const qint64 self = QCoreApplication::applicationPid();
    EXPECT_EQ(processes::parentOf(self), qint64(::getppid()));
    const QList<qint64> lineage = processes::lineage(self);
    ASSERT_GE(lineage.size(), 1);
    EXPECT_EQ(lineage.first(), self);
    EXPECT_FALSE(lineage.contains(1)) << "init is never a candidate";
    EXPECT_EQ(processes::lineage(self, 1).size(), 1);
    EXPECT_FALSE(processes::parentOf(0));
    EXPECT_FALSE(processes::parentOf(999999999));
}

TEST(ProcessesTest, LoginShellTakesPositionalArguments)
{
    const QFileInfo shell(processes::loginShell());
    EXPECT_TRUE(shell.isAbsolute());
    EXPECT_TRUE(shell.isExecutable());
    EXPECT_TRUE(QStringList({"sh", "bash", "zsh", "dash", "ksh", "ksh93", "mksh", "yash"}).contains(shell.fileName()));
}
