#include "feeds/Endpoints.h"
#include "core/Log.h"
#include <QHash>
#include <QHostAddress>
#include <QStringList>

#ifndef LOMEX_UPDATE_URL
#define LOMEX_UPDATE_URL ""
#endif

namespace lomex::endpoints {

namespace {

QHash<int, QUrl>& overrides() {
    static QHash<int, QUrl> table;
    return table;
}

std::optional<QUrl> builtIn(Service service) {
    switch (service) {
    case Service::golemio: return QUrl(QStringLiteral("https://api.golemio.cz"));
    case Service::pidStops: return QUrl(QStringLiteral("https://data.pid.cz"));
    case Service::transitous: return QUrl(QStringLiteral("https://api.transitous.org"));
    case Service::forecast: return QUrl(QStringLiteral("https://api.open-meteo.com"));
    case Service::geocoding: return QUrl(QStringLiteral("https://geocoding-api.open-meteo.com"));
    case Service::chmi:
        return QUrl(QStringLiteral("https://opendata.chmi.cz/meteorology/weather/alerts/cap/"));
    case Service::update: {
        const QString built = QStringLiteral(LOMEX_UPDATE_URL);
        if (built.isEmpty()) return std::nullopt;
        return QUrl(built);
    }
    }
    return std::nullopt;
}

std::optional<QUrl> fromEnvironment(Service service) {
    const QString raw = qEnvironmentVariable("LOMEX_ENDPOINTS");
    if (raw.isEmpty()) return std::nullopt;
    for (const QString& item : raw.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const int eq = item.indexOf(QLatin1Char('='));
        if (eq <= 0 || item.left(eq).trimmed() != name(service)) continue;
        const QUrl url(item.mid(eq + 1).trimmed(), QUrl::StrictMode);
        if (url.isValid() && isAllowed(url)) return url;
        logWarning("LOMEX_ENDPOINTS: ignoring the address for " + name(service) +
                   " (https, or http to a loopback address only)");
        return std::nullopt;
    }
    return std::nullopt;
}

} // namespace

QString name(Service service) {
    switch (service) {
    case Service::golemio: return QStringLiteral("golemio");
    case Service::pidStops: return QStringLiteral("pidStops");
    case Service::transitous: return QStringLiteral("transitous");
    case Service::forecast: return QStringLiteral("forecast");
    case Service::geocoding: return QStringLiteral("geocoding");
    case Service::chmi: return QStringLiteral("chmi");
    case Service::update: return QStringLiteral("update");
    }
    return {};
}

std::optional<QUrl> base(Service service) {
    auto it = overrides().constFind(int(service));
    if (it != overrides().constEnd()) return it.value();
    if (auto env = fromEnvironment(service)) return env;
    return builtIn(service);
}

void setOverride(Service service, const QUrl& url) { overrides().insert(int(service), url); }
void clearOverrides() { overrides().clear(); }

bool isLoopback(const QUrl& url) {
    const QString host = url.host();
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0) return true;
    QHostAddress address;
    return address.setAddress(host) && address.isLoopback();
}

bool isAllowed(const QUrl& url) {
    if (!url.isValid() || url.host().isEmpty()) return false;
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("https")) return true;
    return scheme == QLatin1String("http") && isLoopback(url);
}

} // namespace lomex::endpoints
