#include "feeds/WeatherService.h"
#include "core/Clock.h"
#include "core/L10n.h"
#include "core/Log.h"
#include "core/Settings.h"
#include "feeds/CapWarnings.h"
#include "feeds/Endpoints.h"
#include "feeds/FeedText.h"
#include "feeds/JsonFields.h"
#include "feeds/QueryText.h"
#include <memory>

namespace lomex {

using nlohmann::json;
namespace jf = jsonfields;

namespace {

constexpr double kTickSeconds = 900;
constexpr int kMaxPlaces = 8;
constexpr qint64 kCapFileMaxBytes = 4 << 20;

QString coordinate(double v) { return QString::number(v, 'f', 4); }

std::optional<QString> present(std::optional<QString> s) {
    if (s) *s = feedtext::line(*s);
    if (!s || s->isEmpty()) return std::nullopt;
    return s;
}

} // namespace

// ---- records ----

QString WeatherService::Place::identity() const {
    return name + QLatin1Char('|') + QString::number(lat) + QLatin1Char('|') + QString::number(lon);
}

QString WeatherService::Place::subtitle() const {
    QStringList parts;
    if (admin2 && !admin2->isEmpty()) parts.append(*admin2);
    if (admin1 && !admin1->isEmpty() && !parts.contains(*admin1)) parts.append(*admin1);
    return parts.join(QStringLiteral(", "));
}

json WeatherService::Place::toJson() const {
    json j = {{"name", name.toStdString()}, {"lat", lat}, {"lon", lon}};
    if (admin1) j["admin1"] = admin1->toStdString();
    if (admin2) j["admin2"] = admin2->toStdString();
    return j;
}

std::optional<WeatherService::Place> WeatherService::Place::fromJson(const json& j) {
    auto name = jf::string(j, "name");
    auto lat = jf::number(j, "lat");
    auto lon = jf::number(j, "lon");
    if (!name || name->isEmpty() || !lat || !lon || std::abs(*lat) > 90 || std::abs(*lon) > 180)
        return std::nullopt;
    return Place{*name, jf::string(j, "admin1"), jf::string(j, "admin2"), *lat, *lon};
}

// ---- service ----

WeatherService::WeatherService(Clock* clock, Settings* settings, QObject* parent)
    : QObject(parent),
      clock_(clock ? clock : Clock::current()),
      settings_(settings ? settings : &Settings::shared()),
      client_(new http::Client(clock_, this)),
      tick_(new Timer(clock_, this)) {
    if (auto data = settings_->data(QStringLiteral("weatherPlace"))) place_ = Place::fromJson(*data);
    connect(tick_, &Timer::timeout, this, &WeatherService::refresh);
}

WeatherService::~WeatherService() = default;

void WeatherService::start() {
    refresh();
    tick_->start(kTickSeconds, true);
}

void WeatherService::watch(QObject* viewer, Feed feed) {
    const bool first = !watched(feed);
    viewers_[int(feed)].append(viewer);
    connect(viewer, &QObject::destroyed, this, [this, feed] { viewers_[int(feed)].removeAll(nullptr); });
    const auto& last = lastLoad_[int(feed)];
    if (first && (!last || last->secsTo(clock_->now()) >= kTickSeconds)) refresh();
}

bool WeatherService::watched(Feed feed) const {
    for (const auto& v : viewers_[int(feed)])
        if (v) return true;
    return false;
}

void WeatherService::setPlace(std::optional<Place> place) {
    const bool differs = place != place_;
    place_ = std::move(place);
    if (place_)
        settings_->setValue(QStringLiteral("weatherPlace"), place_->toJson());
    else
        settings_->remove(QStringLiteral("weatherPlace"));
    if (differs) {
        // The old place's weather is not the new place's.
        forecastLoads_.invalidate();
        warningLoads_.invalidate();
        lastLoad_[0].reset();
        lastLoad_[1].reset();
        setCurrent(std::nullopt);
        setWarnings({}, WarningsState::notLoaded);
        emit placeChanged();
    }
    refresh();
}

void WeatherService::setCurrent(std::optional<Current> current) {
    if (!current && !current_) return;
    current_ = current;
    emit currentChanged();
}

void WeatherService::setWarnings(QList<Warning> warnings, WarningsState state) {
    if (warnings.isEmpty() && warnings_.isEmpty() && state == warningsState_) return;
    warnings_ = std::move(warnings);
    warningsState_ = state;
    emit warningsChanged();
}

void WeatherService::refresh() {
    if (!settings_->boolValue(QStringLiteral("weatherEnabled"), true)) {
        forecastLoads_.invalidate();
        warningLoads_.invalidate();
        setCurrent(std::nullopt);
        setWarnings({}, WarningsState::off);
        return;
    }
    if (watched(Feed::current)) loadForecast();
    if (!settings_->boolValue(QStringLiteral("chmiEnabled"), true)) {
        warningLoads_.invalidate();
        setWarnings({}, WarningsState::off);
        return;
    }
    if (watched(Feed::warnings)) loadWarnings();
}

void WeatherService::loadForecast() {
    auto base = endpoints::base(endpoints::Service::forecast);
    if (!place_ || !base) return;
    http::Request request;
    request.url = querytext::withPath(*base, QStringLiteral("/v1/forecast"),
                                      {{QStringLiteral("latitude"), coordinate(place_->lat)},
                                       {QStringLiteral("longitude"), coordinate(place_->lon)},
                                       {QStringLiteral("current"), QStringLiteral("temperature_2m,weather_code")},
                                       {QStringLiteral("timezone"), QStringLiteral("auto")}});
    const quint64 ticket = forecastLoads_.begin();
    lastLoad_[int(Feed::current)] = clock_->now();
    client_->get(request, this, [this, ticket](const http::Response& r) {
        if (!forecastLoads_.isCurrent(ticket)) return;
        const json doc = r.ok() ? jf::parse(r.body) : json();
        const json& now = jf::object(doc, "current");
        const auto temperature = jf::number(now, "temperature_2m");
        if (!temperature) {
            // The last good figure stays.
            log(QStringLiteral("the weather could not be loaded: ") +
                r.describe());
            return;
        }
        Current current{*temperature, std::nullopt};
        if (auto code = jf::number(now, "weather_code"); code && std::abs(*code) < 1e6) current.weatherCode = int(*code);
        setCurrent(current);
    });
}

void WeatherService::loadWarnings() {
    auto listing = endpoints::base(endpoints::Service::chmi);
    if (!place_ || !listing) {
        warningLoads_.invalidate();
        setWarnings({}, WarningsState::notLoaded);
        return;
    }
    const quint64 ticket = warningLoads_.begin();
    lastLoad_[int(Feed::warnings)] = clock_->now();
    http::Request request;
    request.url = *listing;
    client_->get(request, this, [this, ticket, listing = *listing](const http::Response& r) {
        if (!warningLoads_.isCurrent(ticket)) return;
        if (!r.ok()) {
            log(QStringLiteral("the weather warnings could not be listed: ") +
                r.describe());
            // The last good warnings stay, marked as not current.
            setWarnings(warnings_, WarningsState::failed);
            return;
        }
        loadCapFiles(ticket, capwarnings::pickFiles(r.body, listing));
    });
}

void WeatherService::loadCapFiles(quint64 ticket, const QList<QUrl>& files) {
    struct Batch {
        QList<QByteArray> bodies;
        int pending = 0;
        bool failed = false;
    };
    auto batch = std::make_shared<Batch>();
    batch->bodies.resize(files.size());
    batch->pending = int(files.size());
    auto settle = [this, ticket, batch] {
        if (!warningLoads_.isCurrent(ticket) || !place_) return;
        if (batch->failed) {
            setWarnings(warnings_, WarningsState::failed);
            return;
        }
        setWarnings(capwarnings::warningsFor(batch->bodies, place_->admin1.value_or(QString()),
                                             L10n::shared().isCzech(), clock_->now()),
                    WarningsState::loaded);
    };
    if (files.isEmpty()) return settle();
    for (int i = 0; i < files.size(); ++i) {
        http::Request request;
        request.url = files[i];
        request.maxBytes = kCapFileMaxBytes;
        client_->get(request, this, [batch, i, settle](const http::Response& r) {
            if (r.ok() && capwarnings::parse(r.body))
                batch->bodies[i] = r.body;
            else
                batch->failed = true;
            if (--batch->pending == 0) settle();
        });
    }
}

void WeatherService::search(const QString& text, bool czech, QObject* context,
                            std::function<void(QList<Place>, bool reached)> done) {
    auto base = endpoints::base(endpoints::Service::geocoding);
    if (!base) {
        done({}, false);
        return;
    }
    http::Request request;
    request.url = querytext::withPath(*base, QStringLiteral("/v1/search"),
                                      {{QStringLiteral("name"), text},
                                       {QStringLiteral("count"), QString::number(kMaxPlaces)},
                                       {QStringLiteral("language"), czech ? QStringLiteral("cs") : QStringLiteral("en")},
                                       {QStringLiteral("format"), QStringLiteral("json")}});
    http::Client::shared().get(request, context, [done](const http::Response& r) {
        QList<Place> places;
        const json doc = r.ok() ? jf::parse(r.body) : json();
        // The geocoder leaves "results" out when nothing matched; any object is an answer.
        const bool reached = doc.is_object();
        static http::FailureLog failures(QStringLiteral("the place search could not be reached: "));
        failures.note(r, reached);
        if (const json* results = jf::member(doc, "results"); results && results->is_array()) {
            for (const json& item : *results) {
                if (places.size() >= kMaxPlaces) break;
                auto name = present(jf::string(item, "name"));
                auto lat = jf::number(item, "latitude");
                auto lon = jf::number(item, "longitude");
                if (!name || !lat || !lon) continue;
                places.append(Place{*name, present(jf::string(item, "admin1")),
                                    present(jf::string(item, "admin2")), *lat, *lon});
            }
        }
        done(places, reached);
    });
}

} // namespace lomex
