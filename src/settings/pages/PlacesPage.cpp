#include "settings/pages/PlacesPage.h"
#include "core/L10n.h"
#include "core/Settings.h"
#include "platform/Workspace.h"
#include "settings/blocks/Blocks.h"
#include "settings/blocks/Controls.h"
#include "settings/blocks/Style.h"
#include "settings/pages/StopSearch.h"
#include "ui/Symbols.h"
#include <QApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace lomex {

namespace {

QString t(const char* key) { return L10n::shared().t(QLatin1String(key)); }

QUrl keyPage() { return QUrl(QStringLiteral("https://api.golemio.cz/api-keys/")); }

QColor yellow(const QWidget* w) {
    return w->palette().color(QPalette::Window).lightness() < 128 ? QColor(255, 214, 10) : QColor(204, 153, 0);
}

// A symbol beside a text in one colour, as a status line.
QWidget* symbolText(const QString& symbol, const QColor& color, const QString& text, QFont::Weight weight = QFont::Normal) {
    auto* box = new QWidget;
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    auto* icon = new QLabel(box);
    icon->setPixmap(symbols::pixmap(symbol, 14, color, box->devicePixelRatioF()));
    row->addWidget(icon, 0, Qt::AlignTop);
    auto* label = plainLabel(text, style::callout, color, box, weight);
    label->setObjectName(QStringLiteral("text"));
    label->setWordWrap(true);
    row->addWidget(label, 1);
    return box;
}

// A result of a search: the whole row is the button.
QPushButton* resultButton(const QString& name, const QString& secondary, const QString& tag) {
    auto* b = new QPushButton;
    b->setFlat(true);
    b->setCursor(Qt::PointingHandCursor);
    b->setAccessibleName(name);
    b->setStyleSheet(QStringLiteral("QPushButton { border: none; text-align: left; padding: 0; }"
                                    "QPushButton:hover { background: rgba(127,127,127,30); border-radius: 5px; }"));
    auto* row = new QHBoxLayout(b);
    row->setContentsMargins(4, 3, 4, 3);
    row->setSpacing(6);
    row->addWidget(plainLabel(name, style::body, style::primary(b), b, QFont::Medium));
    if (!secondary.isEmpty()) row->addWidget(plainLabel(secondary, style::body, style::secondary(b), b));
    row->addStretch(1);
    if (!tag.isEmpty()) {
        auto* capsule = plainLabel(tag, 10, style::secondary(b), b);
        capsule->setObjectName(QStringLiteral("tag"));
        capsule->setStyleSheet(QStringLiteral("background: rgba(127,127,127,38); border-radius: 7px; padding: 1px 5px;"));
        row->addWidget(capsule);
    }
    b->setMinimumHeight(row->sizeHint().height());
    return b;
}

QString sourceName(const TransitService::StopGroup& stop) {
    return stop.transitousId ? QStringLiteral("Transitous") : QStringLiteral("PID · Golemio");
}

} // namespace

QString PlacesPage::stopDetail(const TransitService& transit) {
    if (const auto& stop = transit.stop()) {
        QStringList parts;
        if (stop->municipality && !stop->municipality->isEmpty()) parts << *stop->municipality;
        parts << sourceName(*stop);
        return parts.join(QStringLiteral(" · "));
    }
    return transit.idosStop() ? t("idos.detail") : QString();
}

PlacesPage::PlacesPage(WeatherService* weather, TransitService* transit, Clock* clock, QWidget* parent)
    : SettingsPage(parent), weather_(weather), transit_(transit), search_(new StopSearch(transit, clock, this)) {
    // 1. Weather and warnings
    weatherCard_ = add(new Card(t("places.weather")));
    // No view of this version shows the current weather: the switch keeps what is stored (it
    // still gates the warnings below, as it always did).
    auto* weatherOn = weatherCard_->add(new ToggleRow(t("places.weatherOn"), t("places.weatherDetail"),
                                                      settingBool(QStringLiteral("weatherEnabled"), true)));
    weatherOn->toggle()->setObjectName(QStringLiteral("weatherEnabled"));
    weatherOn->markNotInVersion(t("settings.notInVersion"));
    weatherCard_->add(new ToggleRow(t("places.chmiOn"), t("places.chmiDetail"),
                                    settingBool(QStringLiteral("chmiEnabled"), true)));
    placeRow_ = weatherCard_->add(new Row(t("places.place")));
    placeRow_->setTrailing(plainLabel(QString(), style::body, style::primary(this), nullptr, QFont::DemiBold));
    auto* placeBox = weatherCard_->add(new QWidget);
    auto* placeCol = new QVBoxLayout(placeBox);
    placeCol->setContentsMargins(0, 0, 0, 0);
    placeCol->setSpacing(6);
    placeField_ = new QLineEdit(placeBox);
    placeField_->setObjectName(QStringLiteral("placeField"));
    placeField_->setPlaceholderText(t("places.search"));
    placeField_->setAccessibleName(t("places.place"));
    placeField_->setClearButtonEnabled(true);
    placeCol->addWidget(placeField_);
    placeList_ = new QVBoxLayout;
    placeList_->setSpacing(0);
    placeCol->addLayout(placeList_);
    placeStatus_ = plainLabel(QString(), style::caption, style::secondary(this), placeBox);
    placeStatus_->setObjectName(QStringLiteral("placeStatus"));
    placeStatus_->setWordWrap(true);
    placeStatus_->hide();
    placeCol->addWidget(placeStatus_);
    connect(placeField_, &QLineEdit::returnPressed, this, &PlacesPage::searchPlaces);
    for (const char* key : {"weatherEnabled", "chmiEnabled"})
        whenSettingChanges(this, QLatin1String(key), [this] {
            if (weather_) weather_->refresh();
            rebuildWarnings();
        });

    // 2. The section the transit tab and the debug channel scroll to
    addAnchor(QStringLiteral("pid"));

    // 3. Departures
    auto* departures = add(new Card(t("dep.title")));
    stopRow_ = departures->add(new Row(t("pid.stop")));
    auto* searchBox = departures->add(new QWidget);
    auto* searchCol = new QVBoxLayout(searchBox);
    searchCol->setContentsMargins(0, 0, 0, 0);
    searchCol->setSpacing(4);
    auto* fieldRow = new QHBoxLayout;
    stopField_ = new QLineEdit(searchBox);
    stopField_->setObjectName(QStringLiteral("stopField"));
    stopField_->setPlaceholderText(t("dep.search"));
    stopField_->setAccessibleName(t("pid.stop"));
    stopField_->setClearButtonEnabled(true);
    fieldRow->addWidget(stopField_, 1);
    spinner_ = new QProgressBar(searchBox);
    spinner_->setRange(0, 0);
    spinner_->setTextVisible(false);
    spinner_->setFixedSize(36, 8);
    fieldRow->addWidget(spinner_);
    searchCol->addLayout(fieldRow);
    stopList_ = new QVBoxLayout;
    stopList_->setSpacing(0);
    searchCol->addLayout(stopList_);
    noMatch_ = new QWidget(searchBox);
    noMatch_->setObjectName(QStringLiteral("noMatch"));
    auto* noMatchRow = new QHBoxLayout(noMatch_);
    noMatchRow->setContentsMargins(0, 0, 0, 0);
    noMatchText_ = plainLabel(t("dep.noMatch"), style::caption, style::secondary(this), noMatch_);
    noMatchText_->setObjectName(QStringLiteral("noMatchText"));
    noMatchText_->setWordWrap(true);
    noMatchRow->addWidget(noMatchText_, 1);
    auto* tryIdos = blockButton(t("idos.try"), ButtonKind::bordered, {}, noMatch_);
    tryIdos->setObjectName(QStringLiteral("tryIdos"));
    tryIdos->setFont(style::font(style::caption));
    connect(tryIdos, &QPushButton::clicked, this, [this] {
        if (auto url = TransitService::idosURL(search_->query())) Workspace::current()->open(*url);
    });
    noMatchRow->addWidget(tryIdos);
    searchCol->addWidget(noMatch_);
    connect(stopField_, &QLineEdit::textChanged, search_, &StopSearch::setQuery);
    connect(search_, &StopSearch::changed, this, &PlacesPage::rebuildStopResults);

    status_ = departures->add(new QWidget);
    new QVBoxLayout(status_);
    status_->layout()->setContentsMargins(0, 0, 0, 0);

    auto* attribution = departures->add(new QWidget);
    auto* attributionRow = new QHBoxLayout(attribution);
    attributionRow->setContentsMargins(0, 0, 0, 0);
    attributionRow->setSpacing(4);
    auto* attributionText = plainLabel(t("dep.attribution"), style::caption, style::secondary(this), attribution);
    attributionText->setWordWrap(true);
    attributionRow->addWidget(attributionText, 1);
    auto* sources = new QPushButton(t("pid.attribution"), attribution);
    sources->setObjectName(QStringLiteral("sources"));
    sources->setFlat(true);
    sources->setCursor(Qt::PointingHandCursor);
    sources->setFont(style::font(style::caption));
    sources->setStyleSheet(QStringLiteral("QPushButton { border: none; padding: 0; color: %1; }")
                               .arg(style::accent(this).name()));
    connect(sources, &QPushButton::clicked, this, [] { Workspace::current()->open(TransitService::sourcesURL()); });
    attributionRow->addWidget(sources);

    // 4. Time to leave; the transit service follows these keys itself.
    auto* leave = add(new Card(t("leave.title")));
    leave->add(new ToggleRow(t("leave.enabled"), t("leave.detail"), settingBool(QStringLiteral("leaveEnabled"), false)));
    auto* walk = leave->add(new Row(t("leave.walk"), {},
                                    new Stepper(0, 60, QStringLiteral("min"), settingInt(QStringLiteral("walkMinutes"), 5))));
    auto* linesField = new BoundLineEdit(settingString(QStringLiteral("leaveLines"), QString()), 140);
    linesField->setPlaceholderText(QStringLiteral("818, 250"));
    auto* lines = leave->add(new Row(t("leave.lines"), t("leave.linesDetail"), linesField));
    auto syncLeave = [walk, lines] {
        const bool on = Settings::shared().boolValue(QStringLiteral("leaveEnabled"), false);
        walk->setVisible(on);
        lines->setVisible(on);
    };
    syncLeave();
    whenSettingChanges(this, QStringLiteral("leaveEnabled"), syncLeave);

    // 5. The departure-board key
    auto* keyCard = add(new Card(t("pid.optional")));
    auto* getKey = blockButton(t("pid.getKey"));
    getKey->setObjectName(QStringLiteral("getKey"));
    connect(getKey, &QPushButton::clicked, this, [] { Workspace::current()->open(keyPage()); });
    keyCard->add(new Row(t("pid.key"), t("pid.keyDetail2"), getKey));
    auto* keyField = new BoundLineEdit(settingString(QStringLiteral("golemioKey"), QString()), 10);
    keyField->setObjectName(QStringLiteral("keyField"));
    keyField->setMinimumWidth(10);
    keyField->setMaximumWidth(QWIDGETSIZE_MAX);
    keyField->setEchoMode(QLineEdit::Password);
    keyField->setPlaceholderText(t("pid.keyPlaceholder"));
    keyField->setAccessibleName(t("pid.key"));
    keyCard->add(keyField);
    connect(keyField, &QLineEdit::returnPressed, this, [this] {
        if (transit_) transit_->refresh();
    });
    whenSettingChanges(this, QStringLiteral("golemioKey"), [this] {
        if (transit_) transit_->refresh();
        rebuildStopResults(); // the Prague part comes and goes with the key
    });
    badKey_ = keyCard->add(symbolText(QStringLiteral("xmark.octagon.fill"), style::named(style::Named::red, this),
                                      t("pid.badKey")));
    badKey_->setObjectName(QStringLiteral("badKey"));

    if (weather_) {
        connect(weather_, &WeatherService::placeChanged, this, &PlacesPage::updatePlaceRow);
        connect(weather_, &WeatherService::warningsChanged, this, &PlacesPage::rebuildWarnings);
    }
    if (transit_) {
        connect(transit_, &TransitService::stopChanged, this, &PlacesPage::updateStopRow);
        connect(transit_, &TransitService::idosStopChanged, this, &PlacesPage::updateStopRow);
        connect(transit_, &TransitService::problemChanged, this, &PlacesPage::updateStatus);
        connect(transit_, &TransitService::departuresChanged, this, &PlacesPage::updateStatus);
        // A stop query from the debug channel fills the field and searches.
        auto takeDebugQuery = [this] {
            if (transit_ && transit_->debugQuery()) stopField_->setText(*transit_->debugQuery());
        };
        connect(transit_, &TransitService::debugQueryChanged, this, takeDebugQuery);
        takeDebugQuery();
    }
    updatePlaceRow();
    rebuildPlaceResults();
    rebuildWarnings();
    updateStopRow();
    rebuildStopResults();
    updateStatus();
}

// ---- weather ----

void PlacesPage::showEvent(QShowEvent* event) {
    SettingsPage::showEvent(event);
    // The warnings line is the one view of the warnings: they are loaded while it is on screen.
    if (weather_ && !warningsView_) {
        warningsView_ = std::make_unique<QObject>();
        weather_->watch(warningsView_.get(), WeatherService::Feed::warnings);
    }
}

void PlacesPage::hideEvent(QHideEvent* event) {
    SettingsPage::hideEvent(event);
    warningsView_.reset();
}

void PlacesPage::searchPlaces() {
    if (!weather_) return;
    const QString submitted = placeField_->text();
    const quint64 generation = ++placeGeneration_;
    ++placeSearches_;
    WeatherService::search(submitted, L10n::shared().isCzech(), this,
                           [this, generation, submitted](QList<WeatherService::Place> places, bool reached) {
                               // Only the answer to the latest submission, for the text still typed.
                               if (generation != placeGeneration_ || placeField_->text() != submitted) return;
                               placeResults_ = std::move(places);
                               rebuildPlaceResults();
                               // An empty answer and no answer are told apart.
                               const char* status = !reached ? "places.unreachable"
                                                    : placeResults_.isEmpty() && !submitted.trimmed().isEmpty() ? "places.noMatch"
                                                                                                                : nullptr;
                               placeStatus_->setText(status ? t(status) : QString());
                               placeStatus_->setVisible(status != nullptr);
                           });
}

void PlacesPage::choosePlace(const WeatherService::Place& place) {
    if (weather_) weather_->setPlace(place);
    ++placeGeneration_;
    placeResults_.clear();
    placeField_->clear();
    placeStatus_->hide();
    rebuildPlaceResults();
}

void PlacesPage::updatePlaceRow() {
    const auto place = weather_ ? weather_->place() : std::nullopt;
    placeRow_->setTexts(t("places.place"), place ? place->subtitle() : QString());
    static_cast<QLabel*>(placeRow_->trailing())->setText(place ? place->name : QString());
}

void PlacesPage::rebuildPlaceResults() {
    clearLayout(placeList_);
    for (const WeatherService::Place& place : placeResults_) {
        auto* b = resultButton(place.name, place.subtitle(), {});
        connect(b, &QPushButton::clicked, this, [this, place] { choosePlace(place); });
        placeList_->addWidget(b);
    }
}

void PlacesPage::rebuildWarnings() {
    // The warnings are the card's last entries, so they can go and come without touching the rest.
    for (QWidget* w : warningRows_) delete w;
    warningRows_.clear();
    if (!Settings::shared().boolValue(QStringLiteral("chmiEnabled"), true)) return;
    const QList<WeatherService::Warning> warnings = weather_ ? weather_->warnings() : QList<WeatherService::Warning>{};
    if (warnings.isEmpty()) {
        // "No warnings" is a finding of a load that worked; before one, or after a failed one,
        // the page says so instead of reassuring the user.
        const auto state = weather_ ? weather_->warningsState() : WeatherService::WarningsState::notLoaded;
        if (state == WeatherService::WarningsState::loaded) {
            auto* none = symbolText(QStringLiteral("checkmark.shield.fill"), style::named(style::Named::green, this),
                                    t("chmi.none"));
            none->setObjectName(QStringLiteral("chmiNone"));
            warningRows_ << weatherCard_->add(none);
        } else if (state == WeatherService::WarningsState::failed) {
            auto* failed = symbolText(QStringLiteral("exclamationmark.triangle.fill"), style::secondary(this),
                                      t("chmi.failed"));
            failed->setObjectName(QStringLiteral("chmiFailed"));
            warningRows_ << weatherCard_->add(failed);
        }
        return;
    }
    for (const WeatherService::Warning& w : warnings) {
        const QColor colour = w.level >= 4   ? style::named(style::Named::red, this)
                              : w.level == 3 ? style::named(style::Named::orange, this)
                                             : yellow(this);
        auto* entry = new QWidget;
        entry->setObjectName(QStringLiteral("warning"));
        auto* col = new QVBoxLayout(entry);
        col->setContentsMargins(0, 0, 0, 0);
        col->setSpacing(2);
        col->addWidget(symbolText(QStringLiteral("exclamationmark.triangle.fill"), colour, w.event, QFont::DemiBold));
        if (!w.description.isEmpty()) {
            auto* description = plainLabel(w.description, style::caption, style::secondary(this), entry);
            description->setWordWrap(true);
            col->addWidget(description);
        }
        warningRows_ << weatherCard_->add(entry);
    }
}

// ---- departures ----

void PlacesPage::updateStopRow() {
    if (!transit_) return;
    stopRow_->setTexts(t("pid.stop"), stopDetail(*transit_));
    // A keyboard user who cleared the stop goes on in the search field rather than nowhere.
    QWidget* focus = QApplication::focusWidget();
    const bool hadFocus = focus && stopRow_->trailing() && stopRow_->trailing()->isAncestorOf(focus);
    auto* trailing = new QWidget;
    auto* row = new QHBoxLayout(trailing);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(4);
    std::optional<QString> name;
    if (transit_->stop())
        name = transit_->stop()->name;
    else if (transit_->idosStop())
        name = *transit_->idosStop();
    if (name) {
        auto* label = plainLabel(*name, style::body, style::primary(this), trailing, QFont::DemiBold);
        label->setObjectName(QStringLiteral("stopName"));
        row->addWidget(label);
        auto* clear = new QToolButton(trailing);
        clear->setObjectName(QStringLiteral("clearStop"));
        clear->setAutoRaise(true);
        clear->setAccessibleName(t("pid.clearStop"));
        clear->setToolTip(clear->accessibleName());
        clear->setIcon(QIcon(symbols::pixmap(QStringLiteral("xmark.circle.fill"), 14, style::secondary(this), devicePixelRatioF())));
        connect(clear, &QToolButton::clicked, this, &PlacesPage::clearStop);
        row->addWidget(clear);
    } else {
        auto* label = plainLabel(t("pid.noStopShort"), style::body, style::secondary(this), trailing);
        label->setObjectName(QStringLiteral("stopName"));
        row->addWidget(label);
    }
    stopRow_->setTrailing(trailing);
    if (hadFocus) {
        if (auto* clear = trailing->findChild<QToolButton*>(QStringLiteral("clearStop"))) clear->setFocus(Qt::OtherFocusReason);
        else stopField_->setFocus(Qt::OtherFocusReason);
    }
}

void PlacesPage::rebuildStopResults() {
    clearLayout(stopList_);
    for (const TransitService::StopGroup& stop : search_->shown()) {
        const bool praha = !stop.municipality || *stop.municipality == QLatin1String("Praha");
        auto* b = resultButton(stop.name, praha ? QString() : *stop.municipality, sourceName(stop));
        connect(b, &QPushButton::clicked, this, [this, stop] { chooseStop(stop); });
        stopList_->addWidget(b);
    }
    spinner_->setVisible(search_->searching());
    // Offline is not "nothing found": the timetable portal would not load either.
    const bool unreachable = search_->showsUnreachable();
    noMatchText_->setText(t(unreachable ? "dep.unreachable" : "dep.noMatch"));
    noMatch_->findChild<QPushButton*>(QStringLiteral("tryIdos"))->setVisible(!unreachable);
    noMatch_->setVisible(unreachable || search_->showsNoMatch());
}

void PlacesPage::chooseStop(const TransitService::StopGroup& stop) {
    if (transit_) {
        transit_->setIdosStop(std::nullopt);
        transit_->setStop(stop);
    }
    stopField_->clear();
}

void PlacesPage::clearStop() {
    if (!transit_) return;
    transit_->setStop(std::nullopt);
    transit_->setIdosStop(std::nullopt);
}

void PlacesPage::updateStatus() {
    if (!transit_) return;
    if (QLayoutItem* old = status_->layout()->takeAt(0)) {
        delete old->widget();
        delete old;
    }
    const auto problem = transit_->problem();
    QWidget* line = nullptr;
    if (!problem && !transit_->departures().isEmpty())
        line = symbolText(QStringLiteral("checkmark.circle.fill"), style::named(style::Named::green, this), t("pid.ok"));
    else if (problem == TransitService::Problem::network)
        line = symbolText(QStringLiteral("wifi.exclamationmark"), style::named(style::Named::orange, this), t("pid.network"));
    if (line) status_->layout()->addWidget(line);
    status_->setVisible(line != nullptr);
    badKey_->setVisible(problem == TransitService::Problem::badKey);
}

} // namespace lomex
