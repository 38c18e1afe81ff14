#pragma once
#include "feeds/TransitService.h"
#include "feeds/WeatherService.h"
#include "settings/SettingsPage.h"
#include <QPointer>
#include <memory>

class QLineEdit;
class QProgressBar;
class QVBoxLayout;

namespace lomex {

class Card;
class Clock;
class Row;
class StopSearch;

// Everything that depends on where the user is: the weather place and its warnings, the stop
// whose departures the notch shows, the time to leave and the departure-board key. Choices go
// through the weather and transit services, which store them and load again.
class PlacesPage : public SettingsPage {
    Q_OBJECT
public:
    PlacesPage(WeatherService* weather, TransitService* transit, Clock* clock = nullptr, QWidget* parent = nullptr);

    // "Municipality · source" of the chosen stop, "idos.detail" for a timetable name, else empty.
    static QString stopDetail(const TransitService& transit);

    QLineEdit* placeField() const { return placeField_; }
    QLineEdit* stopField() const { return stopField_; }
    StopSearch* stopSearch() const { return search_; }
    const QList<WeatherService::Place>& placeResults() const { return placeResults_; }
    int placeSearchesStarted() const { return placeSearches_; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void searchPlaces();
    void choosePlace(const WeatherService::Place& place);
    void updatePlaceRow();
    void rebuildPlaceResults();
    void rebuildWarnings();
    void updateStopRow();
    void rebuildStopResults();
    void chooseStop(const TransitService::StopGroup& stop);
    void clearStop();
    void updateStatus();

    QPointer<WeatherService> weather_;
    QPointer<TransitService> transit_;
    StopSearch* search_;

    Card* weatherCard_;
    Row* placeRow_;
    QLineEdit* placeField_;
    QVBoxLayout* placeList_;
    QList<WeatherService::Place> placeResults_;
    quint64 placeGeneration_ = 0;
    int placeSearches_ = 0;
    QList<QWidget*> warningRows_;

    Row* stopRow_;
    QLineEdit* stopField_;
    QProgressBar* spinner_;
    QVBoxLayout* stopList_;
    QWidget* noMatch_;
    QLabel* noMatchText_;
    QLabel* placeStatus_;
    std::unique_ptr<QObject> warningsView_; // watches the warnings while the page is shown
    QWidget* status_;
    QWidget* badKey_;
};

} // namespace lomex
