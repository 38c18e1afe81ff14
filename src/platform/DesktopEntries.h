#pragma once
#include <QHash>
#include <QIcon>
#include <QString>
#include <QStringList>
#include <optional>

namespace lomex::desktopentry {

// The parts of an application's .desktop file that Lomex shows.
struct Entry {
    QString id;       // "org.gnome.Terminal.desktop"
    QString name;     // Name, in the wanted language where the file has it
    QString iconName; // Icon: a theme name or an absolute path
};

// Finds the entry of a desktop-file id in the "applications" folders of the data dirs (the
// first one that has it wins), reading at most 256 KiB of it. language is a tag like "cs";
// the Name of that language is preferred over the plain Name.
std::optional<Entry> find(const QString& desktopID, const QString& language, const QStringList& dataDirs);
// The same, over paths::dataDirs().
std::optional<Entry> find(const QString& desktopID, const QString& language);

// A string value with its escapes (\s, \n, \t, \r, \\) resolved; any other backslash pair is
// kept for the Exec quoting rules.
QString unescape(const QString& s);
// The raw key=value pairs of the [Desktop Entry] group (values not unescaped).
QHash<QString, QString> readEntry(const QByteArray& content);

// Parses the [Desktop Entry] group of a file's text.
std::optional<Entry> parse(const QByteArray& text, const QString& language);

// Desktop-file ids by the StartupWMClass their entries declare, over the "applications"
// folders of the data dirs: a file in a subfolder has the id "vendor-app.desktop", the first
// data dir that has an id wins, hidden entries count as absent, and of several ids naming
// one class the first in byte order is kept. Read again only when a folder changed.
QHash<QString, QString> startupWMClasses(const QStringList& dataDirs);

// The entry's icon from the theme or its path; null when neither has it.
QIcon icon(const Entry& entry);

} // namespace lomex::desktopentry
