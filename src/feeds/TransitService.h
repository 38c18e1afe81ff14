#pragma once
#include "feeds/Http.h"
#include "feeds/TransitTypes.h"
#include <QColor>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QUuid>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <vector>

namespace lomex {

class Clock;
class Settings;
class Timer;

// Live departures of the one chosen stop and the time to leave for it. Prague stops go to the
// departure board (with the user's key), any Czech stop found through the routing service to
// its stop times (no key). Owned by the delegate; lives on the GUI thread, where every
// published value changes.
class TransitService : public QObject {
    Q_OBJECT
public:
    using StopGroup = TransitStopGroup;

    enum class Problem { noKey, noStop, badKey, network };

    using Departure = TransitDeparture;

    struct Leave {
        QString line;
        QString headsign;
        QDateTime departure;
        QDateTime leaveAt; // departure less the walk
        QColor color;
        QColor textColor;
        QString departureIdentity; // Departure::identity of the departure it is for
        bool operator==(const Leave&) const = default;
    };

    explicit TransitService(Clock* clock = nullptr, Settings* settings = nullptr, QObject* parent = nullptr);
    ~TransitService() override;

    // Reloads every 15 seconds from now on.
    void start();

    const std::optional<StopGroup>& stop() const { return stop_; }
    void setStop(std::optional<StopGroup> stop); // stores "pidStop", then refresh()
    // A stop edited by hand in the settings file while we run is taken up the same way.
    const std::optional<QString>& idosStop() const { return idosStop_; }
    void setIdosStop(std::optional<QString> name); // stores "idosStop", then refresh()
    std::optional<Problem> problem() const { return problem_; }
    const QList<Departure>& departures() const { return departures_; }
    const std::optional<Leave>& leave() const { return leave_; }
    const std::optional<QDateTime>& updated() const { return updated_; }
    const std::optional<QString>& debugQuery() const { return debugQuery_; }
    void setDebugQuery(std::optional<QString> query);

    // Starts a load for the chosen stop, or settles the problem at once. Returns at once.
    void refresh();
    // Recomputes leave() from the departures held and "leaveEnabled", "walkMinutes", "leaveLines".
    void updateLeave();

    // The loaded Prague stop list filtered by text (folded; names starting with it first).
    QList<StopGroup> search(const QString& text) const;
    // Loads the Prague stop list from the 7-day cache or the network; done runs when it is
    // loaded or the attempt failed (the list then stays as it was).
    void ensureStops(std::function<void()> done = {});
    bool stopsLoaded() const { return stopsLoaded_; }

    // Czech stops from the routing service's geocoder. `reached` is false when no usable answer
    // came (offline, an error status, a reply that is not the geocoder's), so an empty list is
    // never mistaken for "no such stop"; the first failure after a success is logged.
    static void searchTransitous(const QString& text, QObject* context,
                                 std::function<void(QList<StopGroup>, bool reached)> done);
    // The timetable portal's departures page for a stop name, by the weather place's region.
    static std::optional<QUrl> idosURL(const QString& stopName);
    static QUrl sourcesURL();

    // Called once per departure when the time to leave for it is a minute away or has come.
    std::function<void(const Leave&)> onLeaveNow;

    // Tests: the client that loads (requests made, replies).
    http::Client* client() const { return client_; }

Q_SIGNALS:
    void stopChanged();
    void idosStopChanged();
    void problemChanged();
    void departuresChanged();
    void leaveChanged();
    void updatedChanged();
    void debugQueryChanged();
    void stopsLoadedChanged();

public:
    // The Prague stop list as read, with each name folded once (off the GUI thread).
    struct ParsedStops {
        std::optional<std::vector<StopGroup>> groups;
        std::vector<QString> folded;
    };

private:
    // Takes a stop (or timetable name) as the current one without storing it.
    void adoptStop(std::optional<StopGroup> stop);
    void adoptIdosStop(std::optional<QString> name);
    void setProblem(std::optional<Problem> problem);
    void setDepartures(QList<Departure> departures);
    void loadDepartureBoard(const QString& key);
    void loadStopTimes(const QString& transitousId);
    void finishLoad(quint64 ticket, const http::Response& response,
                    const std::function<std::optional<QList<Departure>>(const QByteArray&)>& parse,
                    bool keyed);
    void stopsArrived(std::optional<std::vector<StopGroup>> groups, const QByteArray& downloaded);
    void downloadStops();
    void adoptStops(ParsedStops parsed);
    void finishEnsure();

    Clock* clock_;
    Settings* settings_;
    http::Client* client_;
    Timer* tick_;
    http::LoadCounter loads_;

    std::optional<StopGroup> stop_;
    bool storing_ = false; // our own write of the stop is under way
    std::optional<QString> idosStop_;
    std::optional<Problem> problem_;
    QList<Departure> departures_;
    std::optional<Leave> leave_;
    std::optional<QDateTime> updated_;
    std::optional<QString> debugQuery_;
    QString announcedLeave_; // the departure onLeaveNow was last called for

    // The Prague stop list with each name folded once.
    std::vector<StopGroup> stops_;
    std::vector<QString> foldedNames_;
    bool stopsLoaded_ = false;
    bool stopsLoading_ = false;
    std::vector<std::function<void()>> stopsWaiting_;
};

} // namespace lomex
