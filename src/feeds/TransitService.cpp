#include "feeds/TransitService.h"
#include "platform/TextFold.h"
#include "core/Async.h"
#include "core/Clock.h"
#include "core/L10n.h"
#include "core/Log.h"
#include "core/Settings.h"
#include "feeds/Endpoints.h"
#include "feeds/JsonFields.h"
#include "feeds/QueryText.h"
#include "feeds/TransitParse.h"
#include "core/FileIO.h"
#include "core/Paths.h"
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>

namespace lomex {

// The member functions of the two types below are defined here, under their service names.
using StopGroup = TransitStopGroup;
using Departure = TransitDeparture;

using nlohmann::json;
namespace jf = jsonfields;

namespace {

constexpr double kTickSeconds = 15;
constexpr int kBoardMinutesAfter = 120; // the tab says "nothing departs in the next 2 hours"
constexpr int kBoardLimit = 20;
constexpr int kStopTimesCount = 20;
constexpr qint64 kStopsCacheMaxAgeSeconds = 7 * 24 * 3600;
constexpr qint64 kStopsMaxBytes = 64 << 20;
constexpr double kStopsTimeoutSeconds = 60;
// The stop ids of one group go into the URL; a group has a few dozen at most.
constexpr int kMaxBoardIds = 60;
// A walk that should have started less than this ago can still make it with a brisk step.
constexpr qint64 kLeaveGraceSeconds = 60;
// The notch opens this long before the time to leave.
constexpr qint64 kLeaveNoticeSeconds = 60;
constexpr int kMinQueryCharacters = 2;

QString stopsCachePath() { return paths::dataDir() + QStringLiteral("/pid-stops.json"); }

QString trimmedKey(Settings* settings) {
    return settings->stringValue(QStringLiteral("golemioKey")).trimmed();
}

using ParsedStops = TransitService::ParsedStops;

ParsedStops parseStops(const QByteArray& bytes) {
    ParsedStops out;
    out.groups = transitparse::stopList(bytes);
    if (out.groups) {
        out.folded.reserve(out.groups->size());
        for (const auto& g : *out.groups) out.folded.push_back(textfold::fold(g.name));
    }
    return out;
}

} // namespace

// ---- records ----

json TransitService::StopGroup::toJson() const {
    json j = {{"name", name.toStdString()}};
    if (municipality) j["municipality"] = municipality->toStdString();
    json ids = json::array(), ls = json::array();
    for (const QString& id : gtfsIds) ids.push_back(id.toStdString());
    for (const QString& l : lines) ls.push_back(l.toStdString());
    j["gtfsIds"] = ids;
    j["lines"] = ls;
    if (transitousId) j["transitousId"] = transitousId->toStdString();
    return j;
}

std::optional<TransitService::StopGroup> TransitService::StopGroup::fromJson(const json& j) {
    auto name = jf::string(j, "name");
    if (!name || name->isEmpty()) return std::nullopt;
    StopGroup g;
    g.name = *name;
    g.municipality = jf::string(j, "municipality");
    g.transitousId = jf::string(j, "transitousId");
    auto strings = [&j](const char* key) {
        QStringList out;
        if (const json* a = jf::member(j, key); a && a->is_array())
            for (const json& v : *a)
                if (v.is_string()) out.append(QString::fromStdString(v.get<std::string>()));
        return out;
    };
    g.gtfsIds = strings("gtfsIds");
    g.lines = strings("lines");
    return g;
}

QColor TransitService::Departure::color() const {
    if (customColor) return *customColor;
    if (isNight) return QColor::fromRgbF(0.25f, 0.25f, 0.25f);
    switch (routeType) {
    case 0: return QColor::fromRgbF(0.48f, 0.02f, 0.01f);
    case 1:
        if (line == QLatin1String("A")) return QColor::fromRgbF(0, 0.65f, 0.38f);
        if (line == QLatin1String("B")) return QColor::fromRgbF(0.97f, 0.7f, 0.13f);
        return QColor::fromRgbF(0.81f, 0, 0.24f);
    case 2: return QColor::fromRgbF(0.15f, 0.12f, 0.38f);
    case 4: return QColor::fromRgbF(0, 0.7f, 0.8f);
    default: return QColor::fromRgbF(0, 0.49f, 0.66f);
    }
}

QColor TransitService::Departure::textColor() const {
    if (customTextColor) return *customTextColor;
    // Yellow metro B needs dark text.
    if (routeType == 1 && line == QLatin1String("B")) return Qt::black;
    return Qt::white;
}

// ---- service ----

TransitService::TransitService(Clock* clock, Settings* settings, QObject* parent)
    : QObject(parent),
      clock_(clock ? clock : Clock::current()),
      settings_(settings ? settings : &Settings::shared()),
      client_(new http::Client(clock_, this)),
      tick_(new Timer(clock_, this)) {
    if (auto data = settings_->data(QStringLiteral("pidStop"))) stop_ = StopGroup::fromJson(*data);
    idosStop_ = settings_->string(QStringLiteral("idosStop"));
    connect(tick_, &Timer::timeout, this, [this] {
        updateLeave();
        refresh();
    });
    connect(settings_, &Settings::changed, this, [this](const QString& key) {
        // A load under the old key must not report on the new one.
        if (key == QLatin1String("golemioKey")) loads_.invalidate();
        if (key == QLatin1String("leaveEnabled") || key == QLatin1String("walkMinutes") ||
            key == QLatin1String("leaveLines"))
            updateLeave();
        // The stop may be edited by hand while we run; our own writes are not news.
        if (storing_) return;
        if (key == QLatin1String("pidStop")) {
            std::optional<StopGroup> stored;
            if (auto data = settings_->data(key)) stored = StopGroup::fromJson(*data);
            if (stored != stop_) adoptStop(std::move(stored));
        } else if (key == QLatin1String("idosStop")) {
            if (auto stored = settings_->string(key); stored != idosStop_) adoptIdosStop(std::move(stored));
        }
    });
}

TransitService::~TransitService() = default;

void TransitService::start() {
    refresh();
    tick_->start(kTickSeconds, true);
}

void TransitService::setStop(std::optional<StopGroup> stop) {
    storing_ = true;
    if (stop)
        settings_->setValue(QStringLiteral("pidStop"), stop->toJson());
    else
        settings_->remove(QStringLiteral("pidStop"));
    storing_ = false;
    adoptStop(std::move(stop));
}

void TransitService::adoptStop(std::optional<StopGroup> stop) {
    const bool differs = stop != stop_;
    stop_ = std::move(stop);
    if (differs) {
        // The old stop's departures and time of load say nothing about the new one.
        loads_.invalidate();
        setDepartures({});
        if (updated_) {
            updated_.reset();
            emit updatedChanged();
        }
        emit stopChanged();
    }
    refresh();
}

void TransitService::setIdosStop(std::optional<QString> name) {
    storing_ = true;
    if (name)
        settings_->setString(QStringLiteral("idosStop"), *name);
    else
        settings_->remove(QStringLiteral("idosStop"));
    storing_ = false;
    adoptIdosStop(std::move(name));
}

void TransitService::adoptIdosStop(std::optional<QString> name) {
    const bool differs = name != idosStop_;
    idosStop_ = std::move(name);
    if (differs) emit idosStopChanged();
    refresh();
}

void TransitService::setDebugQuery(std::optional<QString> query) {
    debugQuery_ = std::move(query);
    emit debugQueryChanged();
}

void TransitService::setProblem(std::optional<Problem> problem) {
    if (problem == problem_) return;
    problem_ = problem;
    emit problemChanged();
}

void TransitService::setDepartures(QList<Departure> departures) {
    if (departures.isEmpty() && departures_.isEmpty()) return;
    departures_ = std::move(departures);
    emit departuresChanged();
}

void TransitService::refresh() {
    if (stop_ && stop_->transitousId) {
        loadStopTimes(*stop_->transitousId);
        return;
    }
    auto settle = [this](std::optional<Problem> problem) {
        loads_.invalidate();
        setProblem(problem);
        setDepartures({});
        updateLeave();
    };
    if (!stop_ && idosStop_) return settle(std::nullopt);
    // Without a stop there is nothing a key could load: picking one comes first (a stop found
    // through the routing service needs no key at all).
    if (!stop_) return settle(Problem::noStop);
    const QString key = trimmedKey(settings_);
    if (key.isEmpty()) return settle(Problem::noKey);
    if (stop_->gtfsIds.isEmpty()) return settle(Problem::noStop);
    loadDepartureBoard(key);
}

void TransitService::loadDepartureBoard(const QString& key) {
    // A key with line breaks or other controls would split the header; no such key works.
    static const QRegularExpression controls(QStringLiteral("[\\x00-\\x1f\\x7f]"));
    if (key.contains(controls)) {
        loads_.invalidate();
        setProblem(Problem::badKey);
        setDepartures({});
        updateLeave();
        return;
    }
    auto base = endpoints::base(endpoints::Service::golemio);
    if (!base) return;
    QList<QPair<QString, QString>> query;
    for (const QString& id : stop_->gtfsIds.mid(0, kMaxBoardIds)) query.append({QStringLiteral("ids[]"), id});
    query.append({QStringLiteral("minutesAfter"), QString::number(kBoardMinutesAfter)});
    query.append({QStringLiteral("limit"), QString::number(kBoardLimit)});
    http::Request request;
    request.url = querytext::withPath(*base, QStringLiteral("/v2/pid/departureboards"), query);
    request.headers.append({"X-Access-Token", key.toUtf8()});
    const quint64 ticket = loads_.begin();
    client_->get(request, this, [this, ticket](const http::Response& r) {
        finishLoad(ticket, r, transitparse::departureBoard, true);
    });
}

void TransitService::loadStopTimes(const QString& transitousId) {
    auto base = endpoints::base(endpoints::Service::transitous);
    if (!base) return;
    http::Request request;
    request.url = querytext::withPath(*base, QStringLiteral("/api/v1/stoptimes"),
                                      {{QStringLiteral("stopId"), transitousId},
                                       {QStringLiteral("n"), QString::number(kStopTimesCount)}});
    const quint64 ticket = loads_.begin();
    client_->get(request, this, [this, ticket](const http::Response& r) {
        finishLoad(ticket, r, transitparse::stopTimes, false);
    });
}

void TransitService::finishLoad(quint64 ticket, const http::Response& response,
                                const std::function<std::optional<QList<Departure>>(const QByteArray&)>& parse,
                                bool keyed) {
    if (!loads_.isCurrent(ticket)) return;
    if (keyed && (response.status == 401 || response.status == 403)) {
        setProblem(Problem::badKey);
        setDepartures({});
        updateLeave();
        return;
    }
    std::optional<QList<Departure>> parsed;
    if (response.ok()) parsed = parse(response.body);
    if (!parsed) {
        // The last good departures stay; the tab shows the problem over them.
        log(QStringLiteral("departures could not be loaded: ") +
            response.describe());
        setProblem(Problem::network);
        return;
    }
    setProblem(std::nullopt);
    setDepartures(std::move(*parsed));
    updated_ = clock_->now();
    emit updatedChanged();
    updateLeave();
}

QString TransitService::Departure::identity() const {
    if (!tripId.isEmpty()) return QStringLiteral("trip|") + tripId;
    return line + QLatin1Char('|') + headsign + QLatin1Char('|') + scheduled.value_or(time).toString(Qt::ISODate);
}

void TransitService::updateLeave() {
    std::optional<Leave> next;
    if (settings_->boolValue(QStringLiteral("leaveEnabled"), false)) {
        const qint64 walkSeconds = qMax(0, settings_->intValue(QStringLiteral("walkMinutes"), 5)) * qint64(60);
        static const QRegularExpression separators(QStringLiteral("[,\\s]+"));
        QStringList lines;
        for (const QString& l : settings_->stringValue(QStringLiteral("leaveLines")).split(separators, Qt::SkipEmptyParts))
            lines.append(l.toCaseFolded());
        const QDateTime now = clock_->now();
        const Departure* best = nullptr;
        for (const Departure& d : departures_) {
            if (d.cancelled) continue;
            if (!lines.isEmpty() && !lines.contains(d.line.toCaseFolded())) continue;
            if (now.secsTo(d.time.addSecs(-walkSeconds)) < -kLeaveGraceSeconds) continue;
            if (!best || d.time < best->time) best = &d;
        }
        if (best)
            next = Leave{best->line, best->headsign, best->time, best->time.addSecs(-walkSeconds),
                         best->color(), best->textColor(), best->identity()};
    }
    if (next != leave_) {
        leave_ = next;
        emit leaveChanged();
    }
    if (leave_ && clock_->now().secsTo(leave_->leaveAt) <= kLeaveNoticeSeconds) {
        // Live predictions move by seconds at every load: the departure is known by its trip.
        if (leave_->departureIdentity != announcedLeave_) {
            announcedLeave_ = leave_->departureIdentity;
            if (onLeaveNow) onLeaveNow(*leave_);
        }
    }
}

// ---- Prague stop list ----

QList<TransitService::StopGroup> TransitService::search(const QString& text) const {
    const QString trimmed = text.trimmed();
    if (!stopsLoaded_ || trimmed.size() < kMinQueryCharacters) return {};
    const QString q = textfold::fold(trimmed);
    QList<StopGroup> starts, contains;
    for (size_t i = 0; i < stops_.size(); ++i) {
        const int at = foldedNames_[i].indexOf(q);
        if (at == 0)
            starts.append(stops_[i]);
        else if (at > 0)
            contains.append(stops_[i]);
    }
    return starts + contains;
}

void TransitService::ensureStops(std::function<void()> done) {
    if (done) stopsWaiting_.push_back(std::move(done));
    if (stopsLoading_) return;
    const QFileInfo cache(stopsCachePath());
    const bool fresh = cache.exists() &&
                       cache.lastModified().secsTo(clock_->now()) < kStopsCacheMaxAgeSeconds;
    if (stopsLoaded_ && fresh) return finishEnsure();
    stopsLoading_ = true;
    if (!fresh) return downloadStops();
    const QString path = cache.filePath();
    runThen(this, [path] {
        auto bytes = fileio::readRegularFile(path, kStopsMaxBytes);
        return bytes ? parseStops(*bytes) : ParsedStops{};
    }, [this](ParsedStops parsed) {
        if (!parsed.groups) {
            log(QStringLiteral("the cached Prague stop list is damaged; loading it anew"));
            return downloadStops();
        }
        adoptStops(std::move(parsed));
    });
}

void TransitService::downloadStops() {
    auto base = endpoints::base(endpoints::Service::pidStops);
    if (!base) return finishEnsure();
    http::Request request;
    request.url = querytext::withPath(*base, QStringLiteral("/stops/json/stops.json"), {});
    request.maxBytes = kStopsMaxBytes;
    request.timeoutSeconds = kStopsTimeoutSeconds;
    client_->get(request, this, [this](const http::Response& r) {
        if (!r.ok()) {
            log(QStringLiteral("the Prague stop list could not be loaded: ") +
                r.describe());
            return finishEnsure();
        }
        const QByteArray body = r.body;
        runThen(this, [body] { return parseStops(body); }, [this, body](ParsedStops parsed) {
            if (!parsed.groups) {
                log(QStringLiteral("the Prague stop list is not in the expected form"));
                return finishEnsure();
            }
            // Cached only once it is known to be good.
            paths::ensureDir(paths::dataDir());
            if (auto err = fileio::writeAtomically(stopsCachePath(), body, {}))
                log(QStringLiteral("the Prague stop list could not be cached: ") + *err);
            adoptStops(std::move(parsed));
        });
    });
}

void TransitService::adoptStops(ParsedStops parsed) {
    stops_ = std::move(*parsed.groups);
    foldedNames_ = std::move(parsed.folded);
    stopsLoaded_ = true;
    emit stopsLoadedChanged();
    finishEnsure();
}

void TransitService::finishEnsure() {
    stopsLoading_ = false;
    auto waiting = std::move(stopsWaiting_);
    stopsWaiting_.clear();
    for (auto& fn : waiting) fn();
}

// ---- static ----

void TransitService::searchTransitous(const QString& text, QObject* context,
                                      std::function<void(QList<StopGroup>, bool reached)> done) {
    const QString q = text.trimmed();
    auto base = endpoints::base(endpoints::Service::transitous);
    if (q.size() < kMinQueryCharacters || !base) {
        done({}, base.has_value());
        return;
    }
    http::Request request;
    request.url = querytext::withPath(*base, QStringLiteral("/api/v1/geocode"),
                                      {{QStringLiteral("text"), q},
                                       {QStringLiteral("type"), QStringLiteral("STOP")},
                                       {QStringLiteral("language"), QStringLiteral("cs")}});
    http::Client::shared().get(request, context, [done](const http::Response& r) {
        std::optional<QList<StopGroup>> stops;
        if (r.ok()) stops = transitparse::geocodeStops(r.body);
        static http::FailureLog failures(QStringLiteral("the stop search could not be reached: "));
        failures.note(r, stops.has_value());
        done(stops.value_or(QList<StopGroup>{}), stops.has_value());
    });
}

std::optional<QUrl> TransitService::idosURL(const QString& stopName) {
    const QString name = stopName.trimmed();
    if (name.isEmpty()) return std::nullopt;
    QString region;
    if (auto place = Settings::shared().data(QStringLiteral("weatherPlace")))
        region = textfold::fold(jf::string(*place, "admin1").value_or(QString()));
    QString code = QStringLiteral("vlakyautobusymhdvse");
    if (region.contains(QLatin1String("moravskoslez")))
        code = QStringLiteral("odis");
    else if (region.contains(QLatin1String("jihomorav")))
        code = QStringLiteral("idsjmk");
    else if (region.contains(QLatin1String("libereck")))
        code = QStringLiteral("idol");
    else if (region.contains(QLatin1String("praha")) || region.contains(QLatin1String("stredocesk")))
        code = QStringLiteral("pid");
    const QString lng = L10n::shared().isCzech() ? QStringLiteral("C") : QStringLiteral("E");
    return querytext::withPath(QUrl(QStringLiteral("https://idos.cz")), QLatin1Char('/') + code + QStringLiteral("/odjezdy/"),
                               {{QStringLiteral("f"), name},
                                {QStringLiteral("submit"), QStringLiteral("true")},
                                {QStringLiteral("lng"), lng}});
}

QUrl TransitService::sourcesURL() { return QUrl(QStringLiteral("https://transitous.org/sources/")); }

} // namespace lomex
