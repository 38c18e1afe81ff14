#include "settings/pages/StopSearch.h"
#include "core/Clock.h"
#include "core/Settings.h"

namespace lomex {

namespace {
bool hasKey() { return !Settings::shared().stringValue(QStringLiteral("golemioKey")).isEmpty(); }
} // namespace

StopSearch::StopSearch(TransitService* transit, Clock* clock, QObject* parent)
    : QObject(parent), transit_(transit), debounce_(new Timer(clock, this)) {
    connect(debounce_, &Timer::timeout, this, [this] { run(generation_, query_); });
    if (transit_) connect(transit_, &TransitService::stopsLoadedChanged, this, &StopSearch::changed);
}

void StopSearch::setQuery(const QString& query) {
    if (query == query_) return;
    query_ = query;
    // Whatever ran for the old text is superseded; its answer will find a newer generation.
    ++generation_;
    searching_ = false;
    debounce_->stop();
    if (query_.size() < minCharacters) {
        results_.clear();
        answered_ = query_;
        reached_ = true;
    } else {
        debounce_->start(debounceSeconds);
    }
    emit changed();
}

QList<TransitService::StopGroup> StopSearch::localResults() const {
    if (!transit_ || !hasKey()) return {};
    return transit_->search(query_).mid(0, maxLocal);
}

bool StopSearch::showsNoMatch() const {
    return query_.size() >= minCharacters && !searching_ && answered_ == query_ && reached_ && results_.isEmpty() &&
           localResults().isEmpty();
}

bool StopSearch::showsUnreachable() const {
    return query_.size() >= minCharacters && !searching_ && answered_ == query_ && !reached_;
}

void StopSearch::run(quint64 generation, const QString& q) {
    if (generation != generation_ || !transit_) return;
    searching_ = true;
    emit changed();
    auto ask = [this, generation, q] {
        if (generation != generation_) return;
        ++requests_;
        TransitService::searchTransitous(q, this, [this, generation, q](QList<TransitService::StopGroup> stops, bool reached) {
            if (generation != generation_) return;
            results_ = std::move(stops);
            answered_ = q;
            reached_ = reached;
            searching_ = false;
            emit changed();
        });
    };
    // With a key the Prague list is made ready first, so the local part can match too.
    if (hasKey())
        transit_->ensureStops([guard = QPointer<StopSearch>(this), ask] {
            if (guard) ask();
        });
    else
        ask();
}

} // namespace lomex
