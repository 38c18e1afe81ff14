#pragma once
#include "feeds/TransitTypes.h"
#include <QList>
#include <QByteArray>
#include <optional>
#include <vector>

// Readers of the transit services' answers. Each gives nothing when the answer is not of the
// expected shape; single entries that lack what a row needs are skipped.
namespace lomex::transitparse {

std::optional<QList<TransitDeparture>> departureBoard(const QByteArray& body);
std::optional<QList<TransitDeparture>> stopTimes(const QByteArray& body);
std::optional<std::vector<TransitStopGroup>> stopList(const QByteArray& body);
// Czech stops only ("cz-" ids), each once, at most 12.
std::optional<QList<TransitStopGroup>> geocodeStops(const QByteArray& body);

// The GTFS route type of a routing-service mode name ("TRAM", "SUBWAY", "BUS", …).
int routeTypeOfMode(const QString& mode);

} // namespace lomex::transitparse
