#include "agents/ApprovalToken.h"
#include "core/Log.h"
#include "core/FileIO.h"
#include "core/Paths.h"
#include "platform/SecureRandom.h"

#include <QMutex>
#include <QMutexLocker>
#include <optional>

namespace lomex {

namespace {

QMutex mutex;
// The token and the file it belongs to: read once per data folder, which for the app is once
// per run; another folder (another HOME) has its own token.
struct Cached {
    QString path;
    QString token;
};
std::optional<Cached> cached;

// A real token is 32 characters; anything far longer is not one of ours.
constexpr qint64 maxTokenFileBytes = 4096;

bool isHexToken(const QString& text)
{
    if (text.size() < 16)
        return false;
    for (QChar c : text) {
        const char16_t u = c.unicode();
        const bool hex = (u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F');
        if (!hex)
            return false;
    }
    return true;
}

std::optional<QString> readToken(const QString& path)
{
    const std::optional<QByteArray> bytes = fileio::readRegularFile(path, maxTokenFileBytes + 1);
    if (!bytes || bytes->size() > maxTokenFileBytes)
        return std::nullopt;
    const QString text = QString::fromUtf8(*bytes).trimmed();
    if (!isHexToken(text))
        return std::nullopt;
    return text;
}

bool writeToken(const QString& path, const QString& token)
{
    paths::ensureDir(paths::dataDir());
    fileio::WriteOptions options;
    options.newFileMode = 0600;
    // A file we replace may have been readable by others; the new secret must not inherit that,
    // and a link must not carry it somewhere else.
    options.keepExistingMode = false;
    options.followSymlink = false;
    // Written on the GUI thread before an answer; a token lost to a crash is simply made anew.
    options.flushToDisk = false;
    if (std::optional<QString> error = fileio::writeAtomically(path, token.toLatin1(), options)) {
        logWarning(QStringLiteral("approval token not saved: ") + *error);
        return false;
    }
    return true;
}

QString makeToken(const QString& path)
{
    const std::optional<QByteArray> random = secureRandomBytes(16);
    if (!random) {
        // Never fall back to a guessable token.
        logWarning(QStringLiteral("no secure random source for the approval token"));
        return QString();
    }
    const QString token = QString::fromLatin1(random->toHex());
    writeToken(path, token);
    return token;
}

} // namespace

QString ApprovalToken::filePath()
{
    return paths::dataDir() + QStringLiteral("/approval-token");
}

QString ApprovalToken::value()
{
    QMutexLocker lock(&mutex);
    const QString path = filePath();
    if (!cached || cached->path != path) {
        cached.reset();
        std::optional<QString> token = readToken(path);
        if (!token) {
            token = makeToken(path);
            if (token->isEmpty())
                return *token; // try again on the next call
        }
        cached = Cached{path, *token};
    }
    return cached->token;
}

bool ApprovalToken::ensureFile()
{
    const QString token = value();
    if (token.isEmpty())
        return false;
    QMutexLocker lock(&mutex);
    const QString path = filePath();
    if (readToken(path) == token)
        return true;
    return writeToken(path, token);
}

} // namespace lomex
