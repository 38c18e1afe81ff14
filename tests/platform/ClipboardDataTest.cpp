#include "TestEnv.h"
#include "platform/ClipboardData.h"
#include <QDir>
#include <QFileInfo>
#include <optional>
#include <sys/stat.h>

using namespace lomex;

namespace {

// Our open files that live (or lived) in the folder: the spill files.
QList<struct stat> spillFiles(const QString& folder)
{
    QList<struct stat> out;
    const QString prefix = QFileInfo(folder).canonicalFilePath() + "/lomex-clipboard-";
    for (const QFileInfo& fd : QDir("/proc/self/fd").entryInfoList(QDir::Files | QDir::System)) {
        if (!fd.symLinkTarget().startsWith(prefix))
            continue;
        struct stat st {};
        if (::stat(QFile::encodeName(fd.filePath()).constData(), &st) == 0)
            out << st;
    }
    return out;
}

QByteArray pattern(qint64 size, char seed)
{
    QByteArray out(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i) out[i] = char(seed + i * 7 + i / 251);
    return out;
}

} // namespace

// Small targets stay in memory; a large one, and whatever comes once the memory held is spent,
// go to one spill file that is private (0600), never has a name in the folder, and is closed
// when the last data that uses it goes. A dropped target gives its room back.
TEST(ClipboardDataTest, LargeDataIsSpilledToAPrivateFileThatNothingLeavesBehind)
{
    test::TempHome home;
    const QString folder = home.file("run");
    ASSERT_TRUE(QDir().mkpath(folder));
    const qint64 big = ClipboardDataWriter::memoryTargetBytes + 12345;
    const struct Case {
        const char* name;
        qint64 size;
        bool dropped;
        bool inFile;
    } cases[] = {
        {"a text", 1000, false, false},
        {"a target over the memory threshold", big, false, true},
        {"one that is given up half way", big, true, true},
        {"a middling one", ClipboardDataWriter::memoryTargetBytes - 1, false, false},
        {"one more past the memory all targets may take", ClipboardDataWriter::memoryTargetBytes - 1, false, true},
        {"an empty one", 0, false, false},
    };
    std::optional<ClipboardDataWriter> writer(std::in_place, folder);
    QList<std::pair<QByteArray, ClipboardData>> kept;
    char seed = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray bytes = pattern(c.size, seed++);
        // In pieces as a transfer brings them.
        for (qint64 at = 0; at < bytes.size(); at += 300'001)
            ASSERT_TRUE(writer->append(bytes.constData() + at, std::min<qint64>(300'001, bytes.size() - at)));
        if (c.dropped) {
            writer->drop();
            continue;
        }
        const ClipboardData data = writer->finish();
        EXPECT_EQ(data.inFile(), c.inFile);
        EXPECT_EQ(data.size(), c.size);
        kept.append({bytes, data});
    }
    writer.reset();
    for (const auto& [bytes, data] : kept) {
        EXPECT_TRUE(data.bytes() == bytes);
        // Read in pieces as an owner serves it, past the end too.
        QByteArray pieces;
        for (qint64 at = 0; at <= data.size(); at += 1 << 20) pieces += data.read(at, 1 << 20);
        EXPECT_TRUE(pieces == bytes);
    }
    EXPECT_TRUE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty())
        << "the spill file has no name";
    const QList<struct stat> open = spillFiles(folder);
    ASSERT_EQ(open.size(), 1) << "one file for the snapshot";
    EXPECT_EQ(open.first().st_mode & 0777, 0600u);
    EXPECT_EQ(open.first().st_nlink, 0u);
    EXPECT_EQ(open.first().st_size, big + ClipboardDataWriter::memoryTargetBytes - 1)
        << "the dropped target's room was given back";
    kept.clear();
    EXPECT_TRUE(spillFiles(folder).isEmpty()) << "closed with the last data";
}
