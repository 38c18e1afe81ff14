#include "TestEnv.h"
#include "core/FileIO.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QDateTime>
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

// A kill between creating and renaming a temporary leaves it behind, holding a whole copy.
TEST_F(FileIOTest, StaleTemporariesOfOursAreRemovedOthersStay) {
    const QString target = path("clips.json");
    ASSERT_FALSE(fileio::writeAtomically(target, "list"));
    auto make = [&](const QString& name, qint64 ageSeconds) {
        const QString p = path(name);
        QFile f(p);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("copy");
        f.close();
        const QDateTime when = QDateTime::currentDateTime().addSecs(-ageSeconds);
        EXPECT_TRUE(f.open(QIODevice::ReadWrite));
        EXPECT_TRUE(f.setFileTime(when, QFileDevice::FileModificationTime));
        return p;
    };
    const QString stale = make(".clips.json.tmp-a1B2c3", 60);
    const QString fresh = make(".clips.json.tmp-Zz9yX8", 0);   // a write under way
    const QString other = make(".notes.json.tmp-a1B2c3", 60);  // another file's
    const QString odd = make(".clips.json.tmp-a1B2c3.keep", 60);
    const QString mine = make("clips.json.tmp-a1B2c3", 60);     // not hidden: not ours
    ASSERT_EQ(::symlink(QFile::encodeName(other).constData(),
                        QFile::encodeName(path(".clips.json.tmp-link00")).constData()), 0);

    EXPECT_EQ(fileio::removeStaleTemporaries(target, 10), 1);
    EXPECT_FALSE(QFile::exists(stale));
    for (const QString& p : {fresh, other, odd, mine, path(".clips.json.tmp-link00"), target})
        EXPECT_TRUE(QFileInfo(p).isFile() || QFileInfo(p).isSymLink()) << qPrintable(p);
}
