#pragma once
#include <QString>
#include <QUrl>
#include <optional>

namespace lomex::endpoints {

// The outside web services the feeds talk to. Each base URL can be replaced, for tests and
// for trying a local mirror: a test setter, or the environment variable LOMEX_ENDPOINTS as a
// comma-separated list of name=url ("golemio=http://127.0.0.1:8080,forecast=…").
enum class Service {
    golemio,    // Prague departure boards
    pidStops,   // Prague stop list
    transitous, // routing service: geocoder and stop times
    forecast,   // weather forecast
    geocoding,  // weather place search
    chmi,       // the directory listing of the official CAP warnings
    update,     // the update feed (a whole URL; absent unless set at build time or overridden)
};

QString name(Service service); // "golemio", "pidStops", …

// The base URL in use: a test override, else LOMEX_ENDPOINTS, else the built-in address.
// Nothing for a service without an address (the update feed of a build without one).
std::optional<QUrl> base(Service service);

// Tests: replaces a base URL until cleared.
void setOverride(Service service, const QUrl& url);
void clearOverrides();

// True for https, and for plain http only to a loopback address (127.0.0.1, ::1, localhost):
// the feeds carry the user's key and place, which never travel unencrypted off the machine.
bool isAllowed(const QUrl& url);
bool isLoopback(const QUrl& url);

} // namespace lomex::endpoints
