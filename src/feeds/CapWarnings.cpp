#include "feeds/CapWarnings.h"
#include "platform/TextFold.h"
#include "feeds/FeedText.h"
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QRegularExpression>
#include <QSet>
#include <QXmlStreamReader>
#include <map>

namespace lomex::capwarnings {

namespace {

// A listing with more links than this is not the warnings folder we know.
constexpr int kMaxLinks = 20000;
constexpr int kMaxInfos = 500;

QDateTime listingDate(const QString& text) {
    // Apache: "07-Dec-2026 08:15"; nginx and others: "2026-12-07 08:15".
    QDateTime t = QLocale::c().toDateTime(text, QStringLiteral("dd-MMM-yyyy HH:mm"));
    if (!t.isValid()) t = QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd HH:mm"));
    return t;
}

std::optional<QDateTime> isoDate(const QString& text) {
    const QDateTime t = QDateTime::fromString(text.trimmed(), Qt::ISODate);
    if (!t.isValid()) return std::nullopt;
    return t;
}

int levelFrom(const QString& awareness, const QString& severity) {
    // "2; yellow; Moderate"
    static const QRegularExpression leading(QStringLiteral("^\\s*(\\d+)"));
    const auto m = leading.match(awareness);
    if (m.hasMatch()) return m.captured(1).toInt();
    if (severity == QLatin1String("Moderate")) return 2;
    if (severity == QLatin1String("Severe")) return 3;
    if (severity == QLatin1String("Extreme")) return 4;
    return severity == QLatin1String("Minor") ? 1 : 0;
}

// The comparable key of a region name: folded, without "kraj" / "hlavní město", English
// names mapped to the Czech ones.
QString regionKey(const QString& name) {
    QString s = textfold::fold(name);
    s.replace(QLatin1Char('-'), QLatin1Char(' '));
    static const QRegularExpression noise(QStringLiteral("\\b(kraj|hlavni|mesto|region|capital|city|of)\\b"));
    s.replace(noise, QString());
    s = s.simplified();
    static const std::pair<const char*, const char*> english[] = {
        {"prague", "praha"},
        {"central bohemia", "stredocesky"},
        {"south bohemia", "jihocesky"},
        {"plzen", "plzensky"},
        {"pilsen", "plzensky"},
        {"karlovy vary", "karlovarsky"},
        {"usti", "ustecky"},
        {"liberec", "liberecky"},
        {"hradec kralove", "kralovehradecky"},
        {"pardubice", "pardubicky"},
        {"south moravia", "jihomoravsky"},
        {"olomouc", "olomoucky"},
        {"zlin", "zlinsky"},
        {"moravian silesia", "moravskoslezsky"},
    };
    for (const auto& [en, cs] : english)
        if (s.startsWith(QLatin1String(en))) return QString::fromLatin1(cs);
    return s;
}

QString elementText(QXmlStreamReader& xml) {
    return xml.readElementText(QXmlStreamReader::IncludeChildElements);
}

} // namespace

QList<QUrl> pickFiles(const QByteArray& html, const QUrl& listing, int maxFiles) {
    static const QRegularExpression link(
        // The date, when there is one, follows the link on its line before any other link; the
        // look-ahead is bounded so a listing on one long line costs one short pass per link.
        QStringLiteral("href\\s*=\\s*\"([^\"]+)\"(?:(?:(?!href)[^\\n]){0,400}?(\\d{2}-[A-Za-z]{3}-\\d{4} \\d{2}:\\d{2}|\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}))?"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression seriesOf(QStringLiteral("^alert_cap_(\\d+)_"));
    struct Candidate {
        QUrl url;
        QString name;
        QDateTime modified;
    };
    std::map<QString, Candidate> newest; // by series
    QList<QString> order;                // series in order of first appearance
    const QString text = QString::fromUtf8(html);
    int links = 0;
    for (auto it = link.globalMatch(text); it.hasNext() && links < kMaxLinks; ++links) {
        const auto m = it.next();
        QString href = m.captured(1);
        href.replace(QLatin1String("&amp;"), QLatin1String("&"));
        const QUrl url = listing.resolved(QUrl(href));
        // Links elsewhere (another host, a downgrade to http) are not the service's files.
        if (!url.isValid() || url.scheme() != listing.scheme() || url.host() != listing.host() ||
            url.port() != listing.port())
            continue;
        const QString name = QFileInfo(url.path()).fileName();
        if (!name.endsWith(QLatin1String(".xml"), Qt::CaseInsensitive)) continue;
        const auto s = seriesOf.match(name);
        const QString series = s.hasMatch() ? s.captured(1) : QString();
        Candidate c{url, name, listingDate(m.captured(2))};
        auto found = newest.find(series);
        if (found == newest.end()) {
            order.append(series);
            newest.emplace(series, c);
            continue;
        }
        const Candidate& old = found->second;
        const bool newer = (c.modified.isValid() && old.modified.isValid() && c.modified != old.modified)
                               ? c.modified > old.modified
                               : c.name > old.name; // names carry their time stamp
        if (newer) found->second = c;
    }
    QList<QUrl> out;
    for (const QString& series : order) {
        if (out.size() >= maxFiles) break;
        out.append(newest.at(series).url);
    }
    return out;
}

std::optional<QList<Info>> parse(const QByteArray& bytes) {
    QXmlStreamReader xml(bytes);
    if (!xml.readNextStartElement() || xml.name() != QLatin1String("alert")) return std::nullopt;
    QList<Info> infos;
    bool cancelled = false;
    while (xml.readNextStartElement()) {
        const auto name = xml.name();
        if (name == QLatin1String("status")) {
            // Tests and exercises are not warnings.
            if (elementText(xml).trimmed() != QLatin1String("Actual")) cancelled = true;
        } else if (name == QLatin1String("msgType")) {
            if (elementText(xml).trimmed() == QLatin1String("Cancel")) cancelled = true;
        } else if (name == QLatin1String("info") && infos.size() < kMaxInfos) {
            Info info;
            QString awareness, severity;
            while (xml.readNextStartElement()) {
                const auto field = xml.name();
                if (field == QLatin1String("language")) info.language = elementText(xml).trimmed();
                else if (field == QLatin1String("event")) info.event = feedtext::line(elementText(xml));
                else if (field == QLatin1String("severity")) severity = elementText(xml).trimmed();
                else if (field == QLatin1String("onset")) info.onset = isoDate(elementText(xml));
                else if (field == QLatin1String("expires")) info.expires = isoDate(elementText(xml));
                else if (field == QLatin1String("description")) info.description = feedtext::paragraph(elementText(xml));
                else if (field == QLatin1String("instruction")) info.instruction = feedtext::paragraph(elementText(xml));
                else if (field == QLatin1String("responseType")) {
                    if (elementText(xml).trimmed() == QLatin1String("AllClear")) info.allClear = true;
                } else if (field == QLatin1String("parameter")) {
                    QString valueName, value;
                    while (xml.readNextStartElement()) {
                        if (xml.name() == QLatin1String("valueName")) valueName = elementText(xml).trimmed();
                        else if (xml.name() == QLatin1String("value")) value = elementText(xml);
                        else xml.skipCurrentElement();
                    }
                    if (valueName == QLatin1String("awareness_level")) awareness = value;
                } else if (field == QLatin1String("area")) {
                    while (xml.readNextStartElement()) {
                        if (xml.name() == QLatin1String("areaDesc")) info.areas.append(feedtext::line(elementText(xml), 2000));
                        else xml.skipCurrentElement();
                    }
                } else {
                    xml.skipCurrentElement();
                }
            }
            info.level = levelFrom(awareness, severity);
            infos.append(std::move(info));
        } else {
            xml.skipCurrentElement();
        }
    }
    if (xml.hasError()) return std::nullopt;
    if (cancelled) return QList<Info>{};
    return infos;
}

bool regionMatches(const QString& areaDesc, const QString& admin1) {
    const QString region = areaDesc.section(QLatin1Char('('), 0, 0);
    const QString a = regionKey(region), b = regionKey(admin1);
    return !a.isEmpty() && a == b;
}

QList<WeatherWarning> warningsFor(const QList<QByteArray>& files, const QString& admin1,
                                           bool czech, const QDateTime& now) {
    QList<WeatherWarning> out;
    QSet<QString> seen;
    auto isEnglish = [](const Info& i) { return i.language.startsWith(QLatin1String("en")); };
    for (const QByteArray& file : files) {
        const auto infos = parse(file);
        if (!infos) continue;
        for (const Info& czechInfo : *infos) {
            if (isEnglish(czechInfo)) continue;
            // The English twin of a block (same level, times and areas) where the file has one.
            const Info* chosen = &czechInfo;
            if (!czech) {
                for (const Info& other : *infos) {
                    if (isEnglish(other) && other.level == czechInfo.level && other.onset == czechInfo.onset &&
                        other.expires == czechInfo.expires && other.areas == czechInfo.areas) {
                        chosen = &other;
                        break;
                    }
                }
            }
            const Info& info = *chosen;
            if (info.allClear || info.level < 2 || info.event.isEmpty()) continue;
            if (info.expires && *info.expires < now) continue;
            QString area;
            for (const QString& a : info.areas) {
                if (regionMatches(a, admin1)) {
                    area = a;
                    break;
                }
            }
            if (area.isEmpty()) continue;
            const QString key = info.event + QLatin1Char('|') + QString::number(info.level) + QLatin1Char('|') +
                                (info.onset ? info.onset->toString(Qt::ISODate) : QString()) + QLatin1Char('|') +
                                (info.expires ? info.expires->toString(Qt::ISODate) : QString());
            if (seen.contains(key)) continue;
            seen.insert(key);
            out.append({QUuid::createUuid(), info.event, info.level, info.onset, info.expires,
                        info.description, info.instruction, area});
        }
    }
    return out;
}

} // namespace lomex::capwarnings
