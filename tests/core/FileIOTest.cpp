#include "TestEnv.h"
#include "core/FileIO.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <sys/stat.h>
#include <unistd.h>

using namespace lomex;

namespace {

class FileIOTest : public test::LomexTest {
protected:
    QString path(const QString& name) const { return QDir::homePath() + "/" + name; }
    static unsigned modeOf(const QString& p) {
        struct stat st {};
        ::stat(QFile::encodeName(p).constData(), &st);
        return st.st_mode & 07777;
    }
    static QByteArray contents(const QString& p) {
        QFile f(p);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
    }
};

} // namespace

TEST_F(FileIOTest, AtomicWriteKeepsModesAndLinksAndLeavesNoTemporaries) {
    const QString fresh = path("fresh.json");
    ASSERT_FALSE(fileio::writeAtomically(fresh, "one"));
    EXPECT_EQ(contents(fresh), "one");
    EXPECT_EQ(modeOf(fresh), 0600u);

    // Another program's file keeps its mode unless the caller wants it private.
    ::chmod(QFile::encodeName(fresh).constData(), 0644);
    ASSERT_FALSE(fileio::writeAtomically(fresh, "two"));
    EXPECT_EQ(modeOf(fresh), 0644u);
    fileio::WriteOptions privateFile;
    privateFile.keepExistingMode = false;
    ASSERT_FALSE(fileio::writeAtomically(fresh, "three", privateFile));
    EXPECT_EQ(contents(fresh), "three");
    EXPECT_EQ(modeOf(fresh), 0600u);

    // A link stays a link; its target gets the content.
    const QString target = path("real.json");
    const QString link = path("link.json");
    ASSERT_FALSE(fileio::writeAtomically(target, "old"));
    ASSERT_TRUE(QFile::link(target, link));
    ASSERT_FALSE(fileio::writeAtomically(link, "new"));
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(contents(target), "new");

    // A folder in the way is refused, not replaced.
    QDir().mkpath(path("folder"));
    const auto err = fileio::writeAtomically(path("folder"), "x");
    ASSERT_TRUE(err);
    EXPECT_TRUE(err->contains("not a regular file"));
    EXPECT_TRUE(QFileInfo(path("folder")).isDir());

    const QStringList left = QDir::home().entryList({".*.tmp-*"}, QDir::Files | QDir::Hidden);
    EXPECT_TRUE(left.isEmpty()) << left.join(", ").toStdString();
}

TEST_F(FileIOTest, BoundedReadsTakeRegularFilesOnly) {
    const QString file = path("data.bin");
    ASSERT_FALSE(fileio::writeAtomically(file, QByteArray(1000, 'a')));
    EXPECT_EQ(fileio::readRegularFile(file, 10)->size(), 10);
    EXPECT_EQ(fileio::readRegularFile(file)->size(), 1000);

    QString error;
    EXPECT_FALSE(fileio::readRegularFile(path("missing"), 10, &error));
    EXPECT_FALSE(error.isEmpty());
    // A FIFO would block a plain open until a writer comes; it is refused at once.
    const QString fifo = path("pipe");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_FALSE(fileio::readRegularFile(fifo, 10, &error));
    EXPECT_TRUE(error.contains("not a regular file"));
}

// A process killed between making its temporary copy and renaming it leaves the copy (for the
// settings: every value, the transit key included). Only our own leftovers of that one file go.
TEST_F(FileIOTest, StaleTemporariesOfTheFileAreRemovedAndNothingElse) {
    const QString target = path("settings.json");
    ASSERT_FALSE(fileio::writeAtomically(target, "{}"));
    const QStringList stale{".settings.json.tmp-abc123", ".settings.json.tmp-Z9y8X7"};
    const QStringList kept{".settings.json.tmp-abc12",       // not mkstemp's six characters
                           ".settings.json.tmp-abc1234", ".other.json.tmp-abc123",
                           "settings.json.tmp-abc123", ".settings.json.bak"};
    for (const QString& name : stale + kept) QFile(path(name)).open(QIODevice::WriteOnly);
    // A link or a folder of that name is no file of ours.
    ASSERT_EQ(::symlink("/etc/passwd", QFile::encodeName(path(".settings.json.tmp-link12")).constData()), 0);
    ASSERT_TRUE(QDir().mkdir(path(".settings.json.tmp-dir123")));

    EXPECT_EQ(fileio::removeStaleTemporaries(target), 2);
    for (const QString& name : stale) EXPECT_FALSE(QFile::exists(path(name))) << name.toStdString();
    for (const QString& name : kept) EXPECT_TRUE(QFile::exists(path(name))) << name.toStdString();
    EXPECT_TRUE(QFileInfo(path(".settings.json.tmp-link12")).isSymLink());
    EXPECT_TRUE(QFileInfo(path(".settings.json.tmp-dir123")).isDir());
    EXPECT_EQ(contents(target), "{}");
    EXPECT_EQ(fileio::removeStaleTemporaries(target), 0);
}
