#include "platform/DesktopEntries.h"
#include "platform/FileIO.h"
#include "platform/RunningApps.h"

#include <QFileInfo>

namespace lomex::desktopentries {

namespace {
constexpr qint64 kMaxEntryBytes = 256 * 1024;

// The escapes the desktop entry format allows in string values.
QString unescape(const QString& raw) {
    QString out;
    out.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const QChar c = raw[i];
        if (c != QLatin1Char('\\') || i + 1 == raw.size()) {
            out += c;
            continue;
        }
        const QChar n = raw[++i];
        if (n == QLatin1Char('s')) out += QLatin1Char(' ');
        else if (n == QLatin1Char('n')) out += QLatin1Char('\n');
        else if (n == QLatin1Char('t')) out += QLatin1Char('\t');
        else if (n == QLatin1Char('r')) out += QLatin1Char('\r');
        else out += n;
    }
    return out;
}

// "applications/<id>", and for "vendor-app.desktop" also "applications/vendor/app.desktop".
QStringList candidates(const QString& desktopID) {
    QStringList out{desktopID};
    const qsizetype dash = desktopID.indexOf(QLatin1Char('-'));
    if (dash > 0) out << desktopID.left(dash) + QLatin1Char('/') + desktopID.mid(dash + 1);
    return out;
}
} // namespace

std::optional<Entry> parse(const QByteArray& text, const QString& language) {
    const QString lang = language.section(QLatin1Char('-'), 0, 0).section(QLatin1Char('_'), 0, 0);
    bool inMain = false;
    bool seenMain = false;
    QString name, localName, localFullName, iconName;
    for (const QByteArray& rawLine : text.split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) continue;
        if (line.startsWith(QLatin1Char('['))) {
            inMain = line == QLatin1String("[Desktop Entry]");
            if (!inMain && seenMain) break;
            seenMain = seenMain || inMain;
            continue;
        }
        if (!inMain) continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0) continue;
        const QString key = line.left(eq).trimmed();
        const QString value = unescape(line.mid(eq + 1).trimmed());
        if (key == QLatin1String("Name")) name = value;
        else if (key == QLatin1String("Icon")) iconName = value;
        else if (!lang.isEmpty() && key == QStringLiteral("Name[%1]").arg(lang)) localName = value;
        else if (!lang.isEmpty() && key.startsWith(QStringLiteral("Name[%1_").arg(lang))) localFullName = value;
    }
    if (!seenMain) return std::nullopt;
    Entry e;
    e.name = !localFullName.isEmpty() ? localFullName : !localName.isEmpty() ? localName : name;
    e.iconName = iconName;
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
    return find(desktopID, language, runningapps::xdgDataDirs());
}

QIcon icon(const Entry& entry) {
    if (entry.iconName.isEmpty()) return {};
    if (QFileInfo(entry.iconName).isAbsolute()) {
        QIcon fromFile(entry.iconName);
        return QFileInfo(entry.iconName).isFile() ? fromFile : QIcon();
    }
    return QIcon::fromTheme(entry.iconName);
}

} // namespace lomex::desktopentries
