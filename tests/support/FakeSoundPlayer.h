#pragma once
#include "platform/Feedback.h"

namespace lomex::feedback {

class FakeSoundPlayer : public SoundPlayer {
public:
    QStringList played;
    void play(const QString& name) override { played << name; }
};

} // namespace lomex::feedback
