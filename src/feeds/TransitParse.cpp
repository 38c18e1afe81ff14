#include "feeds/TransitParse.h"
#include "feeds/FeedText.h"
#include "feeds/JsonFields.h"
#include <QSet>
#include <cmath>

namespace lomex::transitparse {

using nlohmann::json;
using Departure = TransitService::Departure;
using StopGroup = TransitService::StopGroup;
namespace jf = jsonfields;

namespace {

constexpr int kMaxGeocodeStops = 12;
// Far more than a board shows; bounds the work on a hostile answer.
constexpr size_t kMaxDepartures = 200;

std::optional<QDateTime> date(const std::optional<QString>& text) {
    if (!text) return std::nullopt;
    QDateTime t = QDateTime::fromString(*text, Qt::ISODateWithMs);
    if (!t.isValid()) t = QDateTime::fromString(*text, Qt::ISODate);
    if (!t.isValid()) return std::nullopt;
    return t;
}

std::optional<QColor> hexColor(const std::optional<QString>& text) {
    if (!text) return std::nullopt;
    QString s = text->trimmed();
    if (s.startsWith(QLatin1Char('#'))) s.remove(0, 1);
    if (s.size() != 6) return std::nullopt;
    bool ok = false;
    const uint rgb = s.toUInt(&ok, 16);
    if (!ok) return std::nullopt;
    return QColor::fromRgb(QRgb(0xff000000u | rgb));
}

std::optional<QString> nonEmpty(std::optional<QString> s) {
    if (s) *s = feedtext::line(*s);
    if (!s || s->isEmpty()) return std::nullopt;
    return s;
}

} // namespace

int routeTypeOfMode(const QString& mode) {
    if (mode == QLatin1String("TRAM")) return 0;
    if (mode == QLatin1String("SUBWAY") || mode == QLatin1String("METRO")) return 1;
    if (mode.contains(QLatin1String("RAIL")) || mode == QLatin1String("LONG_DISTANCE") ||
        mode == QLatin1String("SUBURBAN"))
        return 2;
    if (mode == QLatin1String("BUS") || mode == QLatin1String("COACH")) return 3;
    if (mode == QLatin1String("FERRY")) return 4;
    if (mode == QLatin1String("FUNICULAR")) return 7;
    if (mode == QLatin1String("AERIAL_LIFT")) return 6;
    return 3;
}

std::optional<QList<Departure>> departureBoard(const QByteArray& body) {
    const json doc = jf::parse(body);
    const json* list = jf::member(doc, "departures");
    if (!list || !list->is_array()) return std::nullopt;
    QList<Departure> out;
    for (const json& item : *list) {
        if (size_t(out.size()) >= kMaxDepartures) break;
        const json& route = jf::object(item, "route");
        const json& trip = jf::object(item, "trip");
        const json& times = jf::object(item, "departure_timestamp");
        auto line = nonEmpty(jf::string(route, "short_name"));
        auto when = date(jf::string(times, "predicted"));
        if (!when) when = date(jf::string(times, "scheduled"));
        if (!line || !when) continue;
        Departure d;
        d.id = QUuid::createUuid();
        d.line = *line;
        d.routeType = int(jf::number(route, "type").value_or(3));
        d.isNight = jf::boolean(route, "is_night").value_or(false);
        d.headsign = nonEmpty(jf::string(trip, "headsign")).value_or(QString());
        d.time = *when;
        d.cancelled = jf::boolean(trip, "is_canceled").value_or(false);
        d.tripId = nonEmpty(jf::string(trip, "id")).value_or(QString());
        d.scheduled = date(jf::string(times, "scheduled"));
        const json& delay = jf::object(item, "delay");
        d.realTime = jf::boolean(delay, "is_available").value_or(false);
        if (d.realTime) {
            if (auto m = jf::number(delay, "minutes"); m && std::abs(*m) < 1e6) d.delayMinutes = int(*m);
        }
        d.platform = nonEmpty(jf::string(jf::object(item, "stop"), "platform_code"));
        out.append(std::move(d));
    }
    return out;
}

std::optional<QList<Departure>> stopTimes(const QByteArray& body) {
    const json doc = jf::parse(body);
    const json* list = jf::member(doc, "stopTimes");
    if (!list || !list->is_array()) return std::nullopt;
    QList<Departure> out;
    for (const json& item : *list) {
        if (size_t(out.size()) >= kMaxDepartures) break;
        const json& place = jf::object(item, "place");
        auto line = nonEmpty(jf::string(item, "routeShortName"));
        if (!line) line = nonEmpty(jf::string(item, "displayName"));
        auto when = date(jf::string(place, "departure"));
        const auto scheduled = date(jf::string(place, "scheduledDeparture"));
        if (!when) when = scheduled;
        if (!line || !when) continue;
        Departure d;
        d.id = QUuid::createUuid();
        d.line = *line;
        d.routeType = routeTypeOfMode(jf::string(item, "mode").value_or(QString()));
        d.headsign = nonEmpty(jf::string(item, "headsign")).value_or(QString());
        d.time = *when;
        d.realTime = jf::boolean(item, "realTime").value_or(false);
        d.tripId = nonEmpty(jf::string(item, "tripId")).value_or(QString());
        d.scheduled = scheduled;
        if (d.realTime && scheduled) d.delayMinutes = int(std::lround(scheduled->secsTo(*when) / 60.0));
        d.platform = nonEmpty(jf::string(place, "track"));
        if (!d.platform) d.platform = nonEmpty(jf::string(place, "scheduledTrack"));
        d.customColor = hexColor(jf::string(item, "routeColor"));
        d.customTextColor = hexColor(jf::string(item, "routeTextColor"));
        d.cancelled = jf::boolean(item, "cancelled").value_or(false) ||
                      jf::boolean(item, "tripCancelled").value_or(false);
        out.append(std::move(d));
    }
    return out;
}

std::optional<std::vector<StopGroup>> stopList(const QByteArray& body) {
    const json doc = jf::parse(body);
    const json* groups = jf::member(doc, "stopGroups");
    if (!groups || !groups->is_array()) return std::nullopt;
    std::vector<StopGroup> out;
    out.reserve(groups->size());
    for (const json& g : *groups) {
        auto name = nonEmpty(jf::string(g, "name"));
        if (!name) continue;
        StopGroup group;
        group.name = *name;
        group.municipality = nonEmpty(jf::string(g, "municipality"));
        QSet<QString> lines;
        const json* stops = jf::member(g, "stops");
        if (stops && stops->is_array()) {
            for (const json& s : *stops) {
                if (const json* ids = jf::member(s, "gtfsIds"); ids && ids->is_array()) {
                    for (const json& id : *ids)
                        if (id.is_string()) group.gtfsIds.append(QString::fromStdString(id.get<std::string>()));
                }
                if (const json* ls = jf::member(s, "lines"); ls && ls->is_array()) {
                    for (const json& l : *ls) {
                        auto n = nonEmpty(jf::string(l, "name"));
                        if (n && !lines.contains(*n)) {
                            lines.insert(*n);
                            group.lines.append(*n);
                        }
                    }
                }
            }
        }
        out.push_back(std::move(group));
    }
    return out;
}

std::optional<QList<StopGroup>> geocodeStops(const QByteArray& body) {
    const json doc = jf::parse(body);
    if (!doc.is_array()) return std::nullopt;
    QList<StopGroup> out;
    QSet<QString> seen;
    for (const json& m : doc) {
        if (out.size() >= kMaxGeocodeStops) break;
        const auto id = jf::string(m, "id");
        const auto name = nonEmpty(jf::string(m, "name"));
        if (!id || !id->startsWith(QLatin1String("cz-")) || !name || seen.contains(*id)) continue;
        if (jf::string(m, "type").value_or(QStringLiteral("STOP")) != QLatin1String("STOP")) continue;
        seen.insert(*id);
        StopGroup group;
        group.name = *name;
        group.transitousId = *id;
        if (const json* areas = jf::member(m, "areas"); areas && areas->is_array()) {
            for (const json& a : *areas) {
                if (jf::number(a, "adminLevel").value_or(0) == 5) {
                    group.municipality = nonEmpty(jf::string(a, "name"));
                    break;
                }
            }
        }
        out.append(std::move(group));
    }
    return out;
}

} // namespace lomex::transitparse
