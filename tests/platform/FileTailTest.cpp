#include "TestEnv.h"
#include "core/FileIO.h"
#include "platform/FileTail.h"
#include <QDir>
#include <QFile>
#include <sys/stat.h>

using namespace lomex;

namespace {

class FileTailTest : public test::LomexTest {
protected:
    QString path(const QString& name) const { return QDir::homePath() + "/" + name; }
    static QStringList lineTexts(const fileio::TailLines& tail) {
        QStringList out;
        for (const auto& l : tail.lines) out << QString::fromUtf8(l.text.toByteArray());
        return out;
    }
};

} // namespace

TEST_F(FileTailTest, TailGivesTheWholeLinesOfItsWindow) {
    const QString file = path("log.jsonl");
    const QByteArray text = "first line\r\nsecond\n\nthird line\nfourth";
    ASSERT_FALSE(fileio::writeAtomically(file, text));

    const auto all = fileio::readTailLines(file, 1 << 20);
    ASSERT_TRUE(all);
    EXPECT_EQ(all->fileSize, text.size());
    EXPECT_EQ(lineTexts(*all), (QStringList{"first line", "second", "third line", "fourth"}));
    EXPECT_EQ(all->lines[1].offset, text.indexOf("second"));

    // A window that starts inside "third line" drops that line.
    const qint64 insideThird = text.size() - text.indexOf("hird line");
    EXPECT_EQ(lineTexts(*fileio::readTailLines(file, insideThird)), (QStringList{"fourth"}));
    // A window that starts exactly at a line's first byte keeps that line.
    const qint64 atThird = text.size() - text.indexOf("third line");
    const auto fromThird = fileio::readTailLines(file, atThird);
    EXPECT_EQ(lineTexts(*fromThird), (QStringList{"third line", "fourth"}));
    EXPECT_EQ(fromThird->lines[0].offset, text.indexOf("third line"));
    EXPECT_FALSE(fileio::readTailLines(file, 0));
}

TEST_F(FileTailTest, TakesRegularFilesOnly) {
    const QString fifo = path("pipe");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_FALSE(fileio::readTailLines(fifo, 10));
    EXPECT_FALSE(fileio::readTailLines(path("missing"), 10));
}
