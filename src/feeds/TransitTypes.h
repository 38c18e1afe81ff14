#pragma once
#include <QColor>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QUuid>
#include <nlohmann/json.hpp>
#include <optional>

namespace lomex {

// A stop as the transit service knows it (TransitService::StopGroup): read by the feed parsers,
// stored in the settings.
struct TransitStopGroup {
    QString name;
    std::optional<QString> municipality;
    QStringList gtfsIds; // departure-board stop ids
    QStringList lines;
    std::optional<QString> transitousId; // set for a stop found through the routing service
    QString identity() const { return name + QLatin1Char('|') + municipality.value_or(QString()); }
    bool operator==(const TransitStopGroup&) const = default;
    nlohmann::json toJson() const;
    static std::optional<TransitStopGroup> fromJson(const nlohmann::json& j);
};

// One departure of the chosen stop (TransitService::Departure).
struct TransitDeparture {
    QUuid id;
    QString line;
    int routeType = 3; // GTFS: 0 tram, 1 metro, 2 train, 3 bus, 4 ferry
    QString headsign;
    QDateTime time; // expected departure
    std::optional<int> delayMinutes;
    std::optional<QString> platform;
    bool isNight = false;
    std::optional<QColor> customColor;
    std::optional<QColor> customTextColor;
    bool realTime = false;
    bool cancelled = false;
    QString tripId;                    // the feed's trip, where it names one
    std::optional<QDateTime> scheduled; // the timetable's time
    // The same departure from one load to the next, while its predicted time moves.
    QString identity() const;
    QColor color() const;     // the badge fill
    QColor textColor() const; // the badge text
};

} // namespace lomex
