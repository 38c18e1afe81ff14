#include "notch/LiveActivity.h"
#include "core/Settings.h"

namespace lomex {

NotchModel::Live LiveActivity::choose(const Inputs& in) {
    using Live = NotchModel::Live;
    if (in.agentNeedsUser) return Live::agent;
    if (in.notice) return Live::notice;
    if (!in.liveActivity) return Live::none;
    if (in.meeting) return Live::meeting;
    if (in.agentActive) return Live::agent;
    if (in.leave) return Live::leave;
    if (in.timer) return Live::timer;
    if (in.media) return Live::media;
    return Live::none;
}

LiveActivity::LiveActivity(NotchModel* model, Settings* settings, QObject* parent)
    : QObject(parent), model_(model), settings_(settings ? settings : &Settings::shared()) {
    connect(model_, &NotchModel::noticeChanged, this, &LiveActivity::update);
    connect(settings_, &Settings::changed, this, [this](const QString& key) {
        if (key == keys::liveActivity) update();
    });
    update();
}

void LiveActivity::setAgentNeedsUser(bool on) { set(&Inputs::agentNeedsUser, on); }
void LiveActivity::setAgentActive(bool on) { set(&Inputs::agentActive, on); }
void LiveActivity::setMeeting(bool on) { set(&Inputs::meeting, on); }
void LiveActivity::setLeave(bool on) { set(&Inputs::leave, on); }
void LiveActivity::setTimer(bool on) { set(&Inputs::timer, on); }
void LiveActivity::setMedia(bool on) { set(&Inputs::media, on); }

void LiveActivity::set(bool Inputs::*field, bool on) {
    if (in_.*field == on) return;
    in_.*field = on;
    update();
}

void LiveActivity::update() {
    in_.notice = model_->notice().has_value();
    in_.liveActivity = settings_->get(keys::liveActivity);
    model_->setLive(choose(in_));
}

} // namespace lomex
