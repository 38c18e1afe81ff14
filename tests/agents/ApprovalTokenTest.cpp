#include "AgentsTestSupport.h"
#include "agents/ApprovalToken.h"
#include "core/Paths.h"
#include "platform/SecureRandom.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <atomic>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

using namespace lomex;

namespace {

mode_t modeOf(const QString& path)
{
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return 0;
    return st.st_mode & 07777;
}

bool isFreshToken(const QString& token)
{
    static const QRegularExpression pattern(QStringLiteral("^[0-9a-f]{32}$"));
    return pattern.match(token).hasMatch();
}

class ApprovalTokenTest : public test::LomexTest {
protected:
    QString path() const { return paths::dataDir() + "/approval-token"; }
    void writeExisting(const QByteArray& content, mode_t mode)
    {
        QDir().mkpath(paths::dataDir());
        QFile f(path());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content);
        f.close();
        ASSERT_EQ(::chmod(QFile::encodeName(path()).constData(), mode), 0);
    }
};

} // namespace

TEST(SecureRandom, GivesDistinctBytes)
{
    const auto a = secureRandomBytes(16);
    const auto b = secureRandomBytes(16);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->size(), 16);
    EXPECT_NE(*a, *b);
    EXPECT_EQ(secureRandomBytes(0), QByteArray());
    EXPECT_EQ(secureRandomBytes(-1), std::nullopt);
    EXPECT_EQ(secureRandomBytes(1 << 20)->size(), 1 << 20); // more than one getrandom call may return
}

TEST_F(ApprovalTokenTest, CreatedPrivateAndCachedForTheProcess)
{
    EXPECT_EQ(ApprovalToken::filePath(), path());
    const QString token = ApprovalToken::value();
    EXPECT_TRUE(isFreshToken(token)) << token.toStdString();
    EXPECT_EQ(modeOf(path()), 0600u);
    EXPECT_EQ(test::readAll(path()), token.toLatin1());
    // Read once per run: a changed file is not read again while the data folder stays.
    writeExisting("0123456789abcdef0123", 0600);
    EXPECT_EQ(ApprovalToken::value(), token);
    // Another data folder (another HOME) has its own token.
    {
        test::EnvGuard other("XDG_DATA_HOME", home.file("other"));
        const QString second = ApprovalToken::value();
        EXPECT_TRUE(isFreshToken(second));
        EXPECT_NE(second, token);
        EXPECT_EQ(test::readAll(ApprovalToken::filePath()), second.toLatin1());
    }
    test::readTokenAgain(home);
    EXPECT_EQ(ApprovalToken::value(), "0123456789abcdef0123");
}

TEST_F(ApprovalTokenTest, ValidFileIsReusedUnchanged)
{
    writeExisting("  ABCDEF0123456789\n", 0640);
    EXPECT_EQ(ApprovalToken::value(), "ABCDEF0123456789");
    EXPECT_EQ(test::readAll(path()), "  ABCDEF0123456789\n");
    EXPECT_EQ(modeOf(path()), 0640u);
}

TEST_F(ApprovalTokenTest, InvalidFilesAreReplacedWithAPrivateOne)
{
    const QByteArray invalid[] = {
        "abc123",                                // too short
        "0123456789abcde",                       // 15 characters
        "0123456789abcdefg",                     // not hex
        "01234567 89abcdef01",                   // blank inside
        "\xEF\xBC\xA1\xEF\xBC\xA2" "0123456789abcdef", // full-width letters are not hex digits here
        "",
        QByteArray(5000, 'a'),                   // far too long to be a token
    };
    for (const QByteArray& content : invalid) {
        writeExisting(content, 0644);
        test::readTokenAgain(home);
        const QString token = ApprovalToken::value();
        EXPECT_TRUE(isFreshToken(token)) << content.left(40).toStdString();
        EXPECT_EQ(test::readAll(path()), token.toLatin1());
        // The replaced file's loose mode is not inherited by the new secret.
        EXPECT_EQ(modeOf(path()), 0600u) << content.left(40).toStdString();
    }
}

TEST_F(ApprovalTokenTest, SymlinkIsReplacedNotWrittenThrough)
{
    QDir().mkpath(paths::dataDir());
    const QString elsewhere = home.write("elsewhere.txt", "not a token");
    ASSERT_TRUE(QFile::link(elsewhere, path()));
    const QString token = ApprovalToken::value();
    EXPECT_TRUE(isFreshToken(token));
    EXPECT_EQ(test::readAll(elsewhere), "not a token");
    EXPECT_FALSE(QFileInfo(path()).isSymLink());
    EXPECT_EQ(modeOf(path()), 0600u);
}

TEST_F(ApprovalTokenTest, NeverVisibleToOthersWhileBeingWritten)
{
    // Even with a permissive umask no file in the folder may be readable by others at any
    // moment: a watcher checks every entry while tokens are created again and again.
    const mode_t oldMask = ::umask(0);
    QDir().mkpath(paths::dataDir());
    const QString dir = paths::dataDir();
    std::atomic<bool> stop{false};
    std::atomic<int> exposed{0};
    std::atomic<int> looks{0};
    std::thread watcher([&] {
        while (!stop.load()) {
            for (const QString& name : QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System)) {
                const mode_t mode = modeOf(dir + "/" + name);
                if (mode & 077)
                    exposed.fetch_add(1);
                looks.fetch_add(1);
            }
        }
    });
    QStringList seen;
    for (int i = 0; i < 200; ++i) {
        QFile::remove(path());
        test::readTokenAgain(home);
        seen.append(ApprovalToken::value());
    }
    stop.store(true);
    watcher.join();
    ::umask(oldMask);
    EXPECT_EQ(exposed.load(), 0);
    EXPECT_GT(looks.load(), 0);
    seen.removeDuplicates();
    EXPECT_EQ(seen.size(), 200);
    EXPECT_EQ(modeOf(path()), 0600u);
}

TEST_F(ApprovalTokenTest, FileIsMadeToHoldTheTokenBeforeAnAnswer)
{
    const QByteArray token = ApprovalToken::value().toLatin1();
    const struct {
        const char* what;
        QByteArray content; // null: no file
        mode_t mode;
        QByteArray after;
        mode_t afterMode;
    } cases[] = {
        {"missing", QByteArray(), 0, token, 0600},
        {"another token", "0123456789abcdef0123", 0644, token, 0600},
        {"not a token", "x", 0600, token, 0600},
        {"ours, as a person wrote it", token + "\n", 0640, token + "\n", 0640},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(path());
        if (!c.content.isNull())
            writeExisting(c.content, c.mode);
        EXPECT_TRUE(ApprovalToken::ensureFile());
        EXPECT_EQ(test::readAll(path()), c.after);
        EXPECT_EQ(modeOf(path()), c.afterMode);
        EXPECT_EQ(ApprovalToken::value().toLatin1(), token);
    }
}
