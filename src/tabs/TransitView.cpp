#include "tabs/TransitView.h"
#include "calendar/Calendar.h"
#include "calendar/DateText.h"
#include "core/Clock.h"
#include "core/L10n.h"
#include "platform/Workspace.h"
#include "tabs/FeedRows.h"
#include "ui/Symbols.h"
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>
#include <cmath>

namespace lomex {

namespace {

QLabel* textLabel(QWidget* parent, const char* name, double px, const QColor& color, QFont::Weight weight = QFont::Normal) {
    return notchLabel(parent, name, QString(), px, color, weight);
}

QLabel* symbolLabel(QWidget* parent, const char* symbol, int size, const QColor& color) {
    auto* label = new QLabel(parent);
    label->setPixmap(symbols::pixmap(QLatin1String(symbol), size, color, parent->devicePixelRatioF()));
    return label;
}

// The footer's and the header's quiet text buttons.
QPushButton* plainButton(QWidget* parent, const char* name, double px) {
    auto* b = new QPushButton(parent);
    b->setObjectName(QLatin1String(name));
    b->setFlat(true);
    b->setCursor(Qt::PointingHandCursor);
    QFont f = b->font();
    f.setPixelSize(qMax(1, int(std::lround(px))));
    b->setFont(f);
    b->setStyleSheet(QStringLiteral("QPushButton { border: none; padding: 0; color: rgba(255,255,255,140); }"
                                    "QPushButton:hover { color: white; }"));
    return b;
}

QString l10n(const char* key) { return L10n::shared().t(QLatin1String(key)); }

} // namespace

TransitView::State TransitView::stateFor(const TransitService& t) {
    if (!t.stop() && t.idosStop()) return State::timetableLink;
    if (auto p = t.problem()) {
        switch (*p) {
        case TransitService::Problem::noKey: return State::noKey;
        case TransitService::Problem::noStop: return State::noStop;
        case TransitService::Problem::badKey: return State::badKey;
        case TransitService::Problem::network: return State::network;
        }
    }
    return t.departures().isEmpty() ? State::noDepartures : State::departures;
}

int TransitView::leaveMinutes(const QDateTime& now, const QDateTime& leaveAt) {
    return int(std::ceil(double(now.msecsTo(leaveAt)) / 60000.0));
}

TransitView::TransitView(TransitService* transit, Clock* clock, QWidget* parent)
    : QWidget(parent), transit_(transit), clock_(clock ? clock : Clock::current()),
      timeline_(new Timer(clock_, this)), now_(clock_->now()) {
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(4, 2, 4, 0);
    stack->setSpacing(6);

    // Header
    auto* header = new QHBoxLayout;
    header->setSpacing(6);
    header->addWidget(symbolLabel(this, "tram.fill", 14, notchcolor::red()));
    title_ = notchLineLabel(this, "title", QString(), 13, Qt::white, QFont::DemiBold);
    header->addWidget(title_);
    municipality_ = textLabel(this, "municipality", 11, notchcolor::grey());
    header->addWidget(municipality_);
    header->addStretch(1);
    updated_ = textLabel(this, "updated", 10, notchcolor::grey());
    header->addWidget(updated_);
    settings_ = new QToolButton(this);
    settings_->setObjectName(QStringLiteral("change"));
    settings_->setAutoRaise(true);
    settings_->setCursor(Qt::PointingHandCursor);
    settings_->setIcon(QIcon(symbols::pixmap(QStringLiteral("slider.horizontal.3"), 14, notchcolor::grey(), devicePixelRatioF())));
    settings_->setStyleSheet(QStringLiteral("QToolButton { border: none; background: transparent; }"));
    connect(settings_, &QToolButton::clicked, this, &TransitView::openPlaces);
    header->addWidget(settings_);
    stack->addLayout(header);

    // Time to leave
    leave_ = new QWidget(this);
    leave_->setObjectName(QStringLiteral("leave"));
    auto* leaveRow = new QHBoxLayout(leave_);
    leaveRow->setContentsMargins(0, 0, 0, 0);
    leaveRow->setSpacing(6);
    leaveRow->addWidget(symbolLabel(leave_, "figure.walk", 13, notchcolor::orange()));
    leaveText_ = textLabel(leave_, "leaveText", 11.5, Qt::white, QFont::DemiBold);
    leaveRow->addWidget(leaveText_);
    leaveHeadsign_ = notchLineLabel(leave_, "leaveHeadsign", QString(), 11, notchcolor::grey());
    leaveHeadsign_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    leaveRow->addWidget(leaveHeadsign_, 1);
    stack->addWidget(leave_);

    contentSlot_ = new QVBoxLayout;
    contentSlot_->setContentsMargins(0, 0, 0, 0);
    stack->addLayout(contentSlot_, 1);

    // Footer, for stops found through the routing service
    footer_ = new QWidget(this);
    footer_->setObjectName(QStringLiteral("footer"));
    auto* footerRow = new QHBoxLayout(footer_);
    footerRow->setContentsMargins(0, 0, 0, 0);
    footerRow->setSpacing(10);
    footerRow->addStretch(1);
    openIdos_ = plainButton(footer_, "openIdos", 9.5);
    attribution_ = plainButton(footer_, "attribution", 9.5);
    footerRow->addWidget(openIdos_);
    footerRow->addWidget(attribution_);
    connect(openIdos_, &QPushButton::clicked, this, [this] {
        if (transit_ && transit_->stop()) openLink(TransitService::idosURL(transit_->stop()->name));
    });
    connect(attribution_, &QPushButton::clicked, this, [this] { openLink(TransitService::sourcesURL()); });
    stack->addWidget(footer_);

    connect(timeline_, &Timer::timeout, this, &TransitView::tick);
    if (transit_) {
        auto whole = [this] {
            updateHeader();
            rebuildContent();
            updateFooter();
        };
        connect(transit_, &TransitService::stopChanged, this, whole);
        connect(transit_, &TransitService::idosStopChanged, this, whole);
        connect(transit_, &TransitService::problemChanged, this, &TransitView::rebuildContent);
        connect(transit_, &TransitService::departuresChanged, this, &TransitView::rebuildContent);
        connect(transit_, &TransitService::updatedChanged, this, &TransitView::updateHeader);
        connect(transit_, &TransitService::leaveChanged, this, &TransitView::updateLeave);
    }
    connect(&L10n::shared(), &L10n::languageChanged, this, [this] {
        updateHeader();
        updateLeave();
        rebuildContent();
        updateFooter();
    });
    updateHeader();
    updateLeave();
    rebuildContent();
    updateFooter();
}

QLabel* TransitView::label(const char* name) const { return findChild<QLabel*>(QLatin1String(name)); }

void TransitView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Every time the tab comes on screen it loads anew, and the timeline starts from now.
    now_ = clock_->now();
    timeline_->start(timelineSeconds, true);
    updateLeave();
    if (state_ == State::departures) rebuildContent();
    if (transit_) transit_->refresh();
}

void TransitView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    timeline_->stop();
}

void TransitView::tick() {
    now_ = clock_->now();
    updateLeave();
    if (state_ == State::departures) rebuildContent();
}

void TransitView::updateHeader() {
    if (!transit_) return;
    const auto& stop = transit_->stop();
    if (stop)
        title_->setText(stop->name);
    else if (transit_->idosStop())
        title_->setText(*transit_->idosStop());
    else
        title_->setText(l10n("pid.title"));
    const bool showMunicipality = stop && stop->municipality && *stop->municipality != QLatin1String("Praha");
    municipality_->setText(showMunicipality ? *stop->municipality : QString());
    municipality_->setVisible(showMunicipality);
    const auto& updated = transit_->updated();
    const char* locale = L10n::shared().isCzech() ? "cs_CZ" : "en_US";
    updated_->setText(updated ? datetext::withSkeleton(*updated, QStringLiteral("jms"), locale, Calendar::current()) : QString());
    updated_->setVisible(updated.has_value());
    settings_->setToolTip(l10n("pid.change"));
    settings_->setAccessibleName(settings_->toolTip()); // a tooltip reaches no screen reader
}

void TransitView::updateLeave() {
    const auto leave = transit_ ? transit_->leave() : std::nullopt;
    leave_->setVisible(leave.has_value());
    if (!leave) return;
    const int minutes = leaveMinutes(now_, leave->leaveAt);
    const L10n& l = L10n::shared();
    leaveText_->setText(minutes <= 0 ? l.t(QStringLiteral("leave.goNow"), {leave->line})
                                     : l.t(QStringLiteral("leave.inMin"), {minutes, leave->line}));
    leaveHeadsign_->setText(QStringLiteral("→ ") + leave->headsign);
}

QWidget* TransitView::message(const QString& text, const QString& button, std::function<void()> action, bool prominent) {
    auto* box = new QWidget;
    auto* col = new QVBoxLayout(box);
    col->setContentsMargins(0, 0, 0, 0);
    col->setSpacing(8);
    col->addStretch(1);
    auto* label = textLabel(box, "message", 12, notchcolor::grey());
    label->setText(text);
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    col->addWidget(label);
    auto* b = new QPushButton(button, box);
    b->setObjectName(QStringLiteral("action"));
    b->setCursor(Qt::PointingHandCursor);
    QFont f = b->font();
    f.setPixelSize(prominent ? 12 : 11);
    b->setFont(f);
    // The timetable link is the one prominent button of the tab: red, regular size.
    b->setStyleSheet(prominent ? QStringLiteral("QPushButton { color: white; background: rgb(215,45,40); border: none;"
                                                " border-radius: 6px; padding: 5px 14px; }"
                                                "QPushButton:hover { background: rgb(235,60,52); }")
                               : QStringLiteral("QPushButton { color: white; background: rgba(255,255,255,40); border: none;"
                                                " border-radius: 5px; padding: 3px 10px; }"
                                                "QPushButton:hover { background: rgba(255,255,255,60); }"));
    connect(b, &QPushButton::clicked, this, std::move(action));
    col->addWidget(b, 0, Qt::AlignHCenter);
    col->addStretch(1);
    return box;
}

void TransitView::rebuildContent() {
    if (!transit_) return;
    state_ = stateFor(*transit_);
    if (content_) {
        contentSlot_->removeWidget(content_);
        content_->hide();
        content_->deleteLater();
    }
    QWidget* box = nullptr;
    switch (state_) {
    case State::timetableLink:
        box = message(l10n("idos.text"), L10n::shared().t(QStringLiteral("idos.open"), {*transit_->idosStop()}),
                      [this] {
                          if (transit_ && transit_->idosStop()) openLink(TransitService::idosURL(*transit_->idosStop()));
                      },
                      true);
        break;
    case State::noKey: box = message(l10n("pid.noKey"), l10n("pid.setup"), [this] { openPlaces(); }); break;
    case State::noStop: box = message(l10n("pid.noStop"), l10n("pid.pickStop"), [this] { openPlaces(); }); break;
    case State::badKey: box = message(l10n("pid.badKey"), l10n("pid.setup"), [this] { openPlaces(); }); break;
    case State::network:
        box = message(l10n("pid.network"), l10n("usage.refresh"), [this] {
            if (transit_) transit_->refresh();
        });
        break;
    case State::noDepartures: {
        box = new QWidget;
        auto* col = new QVBoxLayout(box);
        col->setContentsMargins(0, 0, 0, 0);
        col->addStretch(1);
        auto* label = textLabel(box, "message", 11, notchcolor::grey());
        label->setText(l10n("pid.none"));
        label->setAlignment(Qt::AlignCenter);
        col->addWidget(label);
        col->addStretch(1);
        break;
    }
    case State::departures: {
        box = new QWidget;
        auto* col = new QVBoxLayout(box);
        col->setContentsMargins(0, 0, 0, 0);
        auto* grid = new QGridLayout;
        grid->setHorizontalSpacing(14);
        grid->setVerticalSpacing(5);
        grid->setColumnStretch(0, 1);
        grid->setColumnStretch(1, 1);
        const auto& departures = transit_->departures();
        for (int i = 0; i < qMin(int(departures.size()), maxShown); ++i) {
            auto* row = new DepartureRow(departures[i], now_, box);
            row->setMinimumWidth(10);
            grid->addWidget(row, i / 2, i % 2);
        }
        col->addLayout(grid);
        col->addStretch(1);
        break;
    }
    }
    box->setObjectName(QStringLiteral("content"));
    content_ = box;
    contentSlot_->addWidget(box);
}

void TransitView::updateFooter() {
    const bool show = transit_ && transit_->stop() && transit_->stop()->transitousId;
    footer_->setVisible(show);
    openIdos_->setText(l10n("pid.openIdos"));
    attribution_->setText(l10n("pid.attribution"));
}

void TransitView::openPlaces() {
    if (onOpenPlaces) onOpenPlaces();
}

void TransitView::openLink(const std::optional<QUrl>& url) {
    if (url) Workspace::current()->open(*url);
}

} // namespace lomex
