#pragma once
#include "feeds/Http.h"
#include "feeds/WeatherWarning.h"
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUuid>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>

namespace lomex {

class Clock;
class Settings;
class Timer;

// The current weather and the official weather warnings for the one chosen place. Owned by
// the delegate; lives on the GUI thread, where every published value changes.
class WeatherService : public QObject {
    Q_OBJECT
public:
    struct Place {
        QString name;
        std::optional<QString> admin1; // region
        std::optional<QString> admin2; // district
        double lat = 0;
        double lon = 0;
        QString identity() const;
        // The present ones of admin2 and admin1 joined with ", ", a repeated one once.
        QString subtitle() const;
        bool operator==(const Place&) const = default;
        nlohmann::json toJson() const;
        static std::optional<Place> fromJson(const nlohmann::json& j);
    };

    using Warning = WeatherWarning;

    struct Current {
        double temperature = 0; // °C
        std::optional<int> weatherCode; // WMO code
    };

    // What warnings() means. "No warnings" is only true of `loaded` with an empty list; a load
    // that failed or has not happened is not the same as a quiet sky.
    enum class WarningsState { notLoaded, loaded, failed, off };

    explicit WeatherService(Clock* clock = nullptr, Settings* settings = nullptr, QObject* parent = nullptr);
    ~WeatherService() override;

    // What a view shows, and so what is loaded for it.
    enum class Feed { current, warnings };

    // Loads what is watched now and every 15 minutes.
    void start();
    // Loads a feed while a viewer of it lives, and nothing for a feed no view shows: the
    // forecast request carries the user's coordinates. The first viewer of a feed starts a
    // load at once when the last one is older than the 15-minute period.
    void watch(QObject* viewer, Feed feed);
    bool watched(Feed feed) const;

    const std::optional<Place>& place() const { return place_; }
    // Stores the place under "weatherPlace" (none removes it), then refresh().
    void setPlace(std::optional<Place> place);
    const std::optional<Current>& current() const { return current_; }
    const QList<Warning>& warnings() const { return warnings_; }
    WarningsState warningsState() const { return warningsState_; }

    // Starts the forecast load ("weatherEnabled") and the warnings load (also "chmiEnabled"),
    // each only while watched.
    void refresh();

    // Places for a text from the geocoder: at most 8, Czech or English names. `reached` is
    // false when no usable answer came, so the page can tell offline from "no such place"; the
    // first failure after a success is logged.
    static void search(const QString& text, bool czech, QObject* context,
                       std::function<void(QList<Place>, bool reached)> done);

    http::Client* client() const { return client_; }

Q_SIGNALS:
    void placeChanged();
    void currentChanged();
    void warningsChanged();

private:
    void setCurrent(std::optional<Current> current);
    void setWarnings(QList<Warning> warnings, WarningsState state);
    void loadForecast();
    void loadWarnings();
    void loadCapFiles(quint64 ticket, const QList<QUrl>& files);

    Clock* clock_;
    Settings* settings_;
    http::Client* client_;
    Timer* tick_;
    http::LoadCounter forecastLoads_;
    http::LoadCounter warningLoads_;
    QList<QPointer<QObject>> viewers_[2];
    std::optional<QDateTime> lastLoad_[2];

    std::optional<Place> place_;
    std::optional<Current> current_;
    QList<Warning> warnings_;
    WarningsState warningsState_ = WarningsState::notLoaded;
};

} // namespace lomex
