#pragma once
#include <QDateTime>
#include <QString>
#include <QUuid>
#include <optional>

namespace lomex {

// One official weather warning for the chosen place (WeatherService::Warning), as the warnings
// parser makes it and the service publishes it.
struct WeatherWarning {
    QUuid id;
    QString event;
    int level = 2; // awareness level, 2 and up
    std::optional<QDateTime> onset;
    std::optional<QDateTime> expires;
    QString description;
    QString instruction;
    QString area;
};

} // namespace lomex
