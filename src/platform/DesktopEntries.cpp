#include "platform/DesktopEntries.h"
#include "core/FileIO.h"
#include "core/Paths.h"

#include <QDateTime>
#include <QDirIterator>
#include <QFileInfo>
#include <QMap>
#include <QMutex>
#include <QSet>

namespace lomex::desktopentry {

namespace {
constexpr qint64 kMaxEntryBytes = 256 * 1024;

// "applications/<id>", and for "vendor-app.desktop" also "applications/vendor/app.desktop".
QStringList candidates(const QString& desktopID) {
    QStringList out{desktopID};
    const qsizetype dash = desktopID.indexOf(QLatin1Char('-'));
    if (dash > 0) out << desktopID.left(dash) + QLatin1Char('/') + desktopID.mid(dash + 1);
    return out;
}
} // namespace

QString unescape(const QString& s) {
    QString out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i] != QLatin1Char('\\') || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        const QChar n = s[++i];
        if (n == QLatin1Char('s')) out += QLatin1Char(' ');
        else if (n == QLatin1Char('n')) out += QLatin1Char('\n');
        else if (n == QLatin1Char('t')) out += QLatin1Char('\t');
        else if (n == QLatin1Char('r')) out += QLatin1Char('\r');
        else if (n == QLatin1Char('\\')) out += QLatin1Char('\\');
        else out += QLatin1Char('\\') + QString(n); // not a string escape: Exec quoting keeps it
    }
    return out;
}

QHash<QString, QString> readEntry(const QByteArray& content) {
    QHash<QString, QString> values;
    bool inGroup = false;
    for (const QByteArray& raw : content.split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (!inGroup || line.startsWith(QLatin1Char('#')) || eq <= 0) continue;
        values.insert(line.left(eq).trimmed(), line.mid(eq + 1).trimmed());
    }
    return values;
}

std::optional<Entry> parse(const QByteArray& text, const QString& language) {
    const QHash<QString, QString> values = readEntry(text);
    if (values.isEmpty()) return std::nullopt;
    const QString lang = language.section(QLatin1Char('-'), 0, 0).section(QLatin1Char('_'), 0, 0);
    // "Name[cs_CZ]" before "Name[cs]" before "Name".
    QString name = values.value(QStringLiteral("Name"));
    if (!lang.isEmpty()) {
        QString regional;
        for (auto it = values.constBegin(); it != values.constEnd(); ++it)
            if (it.key().startsWith(QStringLiteral("Name[%1_").arg(lang))) regional = it.value();
        const QString plain = values.value(QStringLiteral("Name[%1]").arg(lang));
        if (!regional.isEmpty()) name = regional;
        else if (!plain.isEmpty()) name = plain;
    }
    Entry e;
    e.name = unescape(name);
    e.iconName = unescape(values.value(QStringLiteral("Icon")));
    return e;
}

std::optional<Entry> find(const QString& desktopID, const QString& language, const QStringList& dataDirs) {
    // An id is a file name: nothing that climbs out of the folder.
    if (!desktopID.endsWith(QLatin1String(".desktop")) || desktopID.contains(QLatin1Char('/')) ||
        desktopID.startsWith(QLatin1Char('.')))
        return std::nullopt;
    for (const QString& dir : dataDirs) {
        for (const QString& relative : candidates(desktopID)) {
            const QString path = dir + QStringLiteral("/applications/") + relative;
            if (!QFileInfo(path).isFile()) continue;
            const auto bytes = fileio::readRegularFile(path, kMaxEntryBytes);
            if (!bytes) continue;
            auto entry = parse(*bytes, language);
            if (!entry) continue;
            entry->id = desktopID;
            return entry;
        }
    }
    return std::nullopt;
}

std::optional<Entry> find(const QString& desktopID, const QString& language) {
    return find(desktopID, language, paths::dataDirs());
}

namespace {

QHash<QString, QString> readStartupWMClasses(const QStringList& dataDirs) {
    QSet<QString> seenIDs;
    QMap<QString, QString> classOf; // id -> class, in id order
    for (const QString& dir : dataDirs) {
        const QString root = dir + QStringLiteral("/applications");
        QStringList ids;
        QHash<QString, QString> pathOf;
        QDirIterator it(root, {QStringLiteral("*.desktop")}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            QString id = path.mid(root.size() + 1);
            id.replace(QLatin1Char('/'), QLatin1Char('-'));
            pathOf.insert(id, path);
            ids << id;
        }
        for (const QString& id : std::as_const(ids)) {
            if (seenIDs.contains(id)) continue; // an earlier data dir overrides this one
            seenIDs.insert(id);
            const auto bytes = fileio::readRegularFile(pathOf.value(id), kMaxEntryBytes);
            if (!bytes) continue;
            const QHash<QString, QString> values = readEntry(*bytes);
            const QString wmClass = unescape(values.value(QStringLiteral("StartupWMClass")));
            if (wmClass.isEmpty() || values.value(QStringLiteral("Hidden")) == QLatin1String("true")) continue;
            classOf.insert(id, wmClass);
        }
    }
    QHash<QString, QString> byClass;
    for (auto it = classOf.constBegin(); it != classOf.constEnd(); ++it)
        if (!byClass.contains(it.value())) byClass.insert(it.value(), it.key());
    return byClass;
}

} // namespace

QHash<QString, QString> startupWMClasses(const QStringList& dataDirs) {
    // Windows are matched often (each menu, each reply); the folders rarely change.
    struct Cached {
        QList<QDateTime> stamps;
        QHash<QString, QString> byClass;
    };
    static QMutex mutex;
    static QHash<QString, Cached> cache;
    QList<QDateTime> stamps;
    for (const QString& dir : dataDirs) stamps << QFileInfo(dir + QStringLiteral("/applications")).lastModified();
    const QString key = dataDirs.join(QLatin1Char('\n'));
    {
        const QMutexLocker lock(&mutex);
        const auto it = cache.constFind(key);
        if (it != cache.constEnd() && it->stamps == stamps) return it->byClass;
    }
    Cached fresh{stamps, readStartupWMClasses(dataDirs)};
    const QMutexLocker lock(&mutex);
    cache.insert(key, fresh);
    return fresh.byClass;
}

QIcon icon(const Entry& entry) {
    if (entry.iconName.isEmpty()) return {};
    if (QFileInfo(entry.iconName).isAbsolute()) {
        QIcon fromFile(entry.iconName);
        return QFileInfo(entry.iconName).isFile() ? fromFile : QIcon();
    }
    return QIcon::fromTheme(entry.iconName);
}

} // namespace lomex::desktopentry
