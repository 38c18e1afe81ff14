#pragma once
#include "feeds/TransitService.h"
#include <QByteArray>
#include <optional>
#include <vector>

// Readers of the transit services' answers. Each gives nothing when the answer is not of the
// expected shape; single entries that lack what a row needs are skipped.
namespace lomex::transitparse {

std::optional<QList<TransitService::Departure>> departureBoard(const QByteArray& body);
std::optional<QList<TransitService::Departure>> stopTimes(const QByteArray& body);
std::optional<std::vector<TransitService::StopGroup>> stopList(const QByteArray& body);
// Czech stops only ("cz-" ids), each once, at most 12.
std::optional<QList<TransitService::StopGroup>> geocodeStops(const QByteArray& body);

// The GTFS route type of a routing-service mode name ("TRAM", "SUBWAY", "BUS", …).
int routeTypeOfMode(const QString& mode);

} // namespace lomex::transitparse
