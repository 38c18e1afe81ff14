// The delegate's online-feed wiring: start-up of the weather, transit and update services,
// the time-to-leave alert and the transit part of the live activity.
#include "app/AppDelegate.h"
#include "notch/LiveActivity.h"
#include "core/L10n.h"
#include "core/Log.h"
#include "feeds/TransitService.h"
#include "feeds/UpdateChecker.h"
#include "feeds/WeatherService.h"
#include "platform/Feedback.h"

namespace lomex {

namespace {
constexpr double kLeaveToastSeconds = 6.0;
} // namespace

void AppDelegate::startFeeds() {
    QPointer<AppDelegate> self(this);
    transit_->onLeaveNow = [self](const TransitService::Leave& leave) {
        if (!self) return;
        self->model_->open(NotchModel::Tab::transit);
        self->model_->show(L10n::shared().t(QStringLiteral("leave.goNow"), {leave.line}), kLeaveToastSeconds);
        feedback::playSound(QStringLiteral("Hero"));
    };
    auto updateLive = [this] {
        if (liveActivity_) liveActivity_->setLeave(transit_->leave().has_value());
    };
    connect(transit_, &TransitService::leaveChanged, this, updateLive);
    updateLive();

    weather_->start();
    transit_->start();
    updates_->start();
}

void AppDelegate::setTransitDebugQuery(const QString& query) {
    log("transit stop query requested: \"" + query + "\"");
    transit_->setDebugQuery(query);
}

} // namespace lomex
