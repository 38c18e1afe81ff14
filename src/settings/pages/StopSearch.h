#pragma once
#include "feeds/TransitService.h"
#include <QObject>
#include <QPointer>

namespace lomex {

class Clock;
class Timer;

// The places page's stop search: the Prague stop list (with a departure-board key) and the
// routing service's stops for the typed text. A search starts 0.35 s after the last change;
// a newer text supersedes a running search, whose answer is then dropped. "Nothing found" is
// only ever said of the text on screen, once its own search has answered.
class StopSearch : public QObject {
    Q_OBJECT
public:
    static constexpr double debounceSeconds = 0.35;
    static constexpr int minCharacters = 2;
    static constexpr int maxLocal = 4;

    StopSearch(TransitService* transit, Clock* clock = nullptr, QObject* parent = nullptr);

    const QString& query() const { return query_; }
    void setQuery(const QString& query);

    // The routing service's stops for the answered text (each with a transitous id).
    const QList<TransitService::StopGroup>& results() const { return results_; }
    // The first Prague stops for the text, while a key is set; computed on each call.
    QList<TransitService::StopGroup> localResults() const;
    // Local first, then the routing service's; a stop found by both is kept twice.
    QList<TransitService::StopGroup> shown() const { return localResults() + results_; }
    bool searching() const { return searching_; }
    bool showsNoMatch() const;
    // The routing service gave no usable answer for the text on screen (offline, an error).
    bool showsUnreachable() const;
    int requestsStarted() const { return requests_; }

Q_SIGNALS:
    void changed();

private:
    void run(quint64 generation, const QString& q);

    QPointer<TransitService> transit_;
    Timer* debounce_;
    QString query_;
    QString answered_; // the text results_ belong to
    QList<TransitService::StopGroup> results_;
    bool searching_ = false;
    bool reached_ = true; // of the answer for answered_
    quint64 generation_ = 0;
    int requests_ = 0;
};

} // namespace lomex
