#pragma once
#include "feeds/WeatherWarning.h"
#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QUrl>

// The official warnings: an HTML directory listing of CAP XML files, and the files themselves.
namespace lomex::capwarnings {

// The newest XML file of each series in the listing ("alert_cap_50_….xml" is series "50"), at
// most maxFiles, resolved against the listing and only on the listing's own scheme, host and port.
QList<QUrl> pickFiles(const QByteArray& html, const QUrl& listing, int maxFiles = 3);

// One warning block of a CAP file, before the region is chosen.
struct Info {
    QString language;
    QString event;
    int level = 0;
    std::optional<QDateTime> onset;
    std::optional<QDateTime> expires;
    QString description;
    QString instruction;
    QStringList areas; // areaDesc of each area
    bool allClear = false;
};
// Nothing when the file is not a CAP alert.
std::optional<QList<Info>> parse(const QByteArray& xml);

// True when a CAP area ("Jihomoravský kraj (Brno, …)") lies in the region of a place's admin1
// ("Jihomoravský kraj", "South Moravian", "Hlavní město Praha"), ignoring case and diacritics.
bool regionMatches(const QString& areaDesc, const QString& admin1);

// The warnings of level 2 and up for the region that have not expired, in file order, each
// once, in English where the file has an English twin of a block and the interface is English.
QList<WeatherWarning> warningsFor(const QList<QByteArray>& files, const QString& admin1,
                                           bool czech, const QDateTime& now);

} // namespace lomex::capwarnings
