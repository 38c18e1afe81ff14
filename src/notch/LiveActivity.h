#pragma once
#include "notch/NotchModel.h"
#include <QObject>

namespace lomex {

class Settings;

// Chooses the closed notch's one live activity from its inputs and writes it to
// NotchModel::live. Priority: an agent needing the user, a notice, nothing while
// "liveActivity" is off, a meeting, an agent working or with unseen news, the time to leave,
// a running timer, playing media.
// The notice comes from the model; "liveActivity" is observed; the other inputs are fed by
// the services through the setters.
class LiveActivity : public QObject {
    Q_OBJECT
public:
    struct Inputs {
        bool agentNeedsUser = false;
        bool agentActive = false; // a session working or with news not yet seen
        bool meeting = false;     // a meeting soon
        bool leave = false;       // time to leave for transit
        bool timer = false;       // focus timer running
        bool media = false;       // music playing
        bool notice = false;
        bool liveActivity = true;
        bool operator==(const Inputs&) const = default;
    };

    // The rule itself.
    static NotchModel::Live choose(const Inputs& in);

    explicit LiveActivity(NotchModel* model, Settings* settings = nullptr, QObject* parent = nullptr);

    const Inputs& inputs() const { return in_; }

public Q_SLOTS:
    void setAgentNeedsUser(bool on);
    void setAgentActive(bool on);
    void setMeeting(bool on);
    void setLeave(bool on);
    void setTimer(bool on);
    void setMedia(bool on);

private:
    void set(bool Inputs::*field, bool on);
    void update();

    NotchModel* model_;
    Settings* settings_;
    Inputs in_;
};

} // namespace lomex
