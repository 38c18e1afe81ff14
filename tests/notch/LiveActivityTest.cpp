#include "TestEnv.h"
#include "notch/LiveActivity.h"
#include "core/Settings.h"
#include "FakeClock.h"

using namespace lomex;
using Live = NotchModel::Live;
using Inputs = LiveActivity::Inputs;

TEST(LiveActivityRule, PriorityOrder) {
    Inputs all{.agentNeedsUser = true, .agentActive = true, .meeting = true, .leave = true,
               .timer = true, .media = true, .notice = true, .liveActivity = true};
    // Drop the winner one at a time: each next input takes over in order.
    const std::pair<bool Inputs::*, Live> order[] = {
        {&Inputs::agentNeedsUser, Live::agent}, {&Inputs::notice, Live::notice},
        {&Inputs::meeting, Live::meeting},      {&Inputs::agentActive, Live::agent},
        {&Inputs::leave, Live::leave},          {&Inputs::timer, Live::timer},
        {&Inputs::media, Live::media},
    };
    for (const auto& [field, expected] : order) {
        EXPECT_EQ(LiveActivity::choose(all), expected);
        all.*field = false;
    }
    EXPECT_EQ(LiveActivity::choose(all), Live::none);
}

TEST(LiveActivityRule, SwitchedOffShowsOnlyAgentNeedOrNotice) {
    Inputs in{.agentNeedsUser = false, .agentActive = true, .meeting = true, .leave = true,
              .timer = true, .media = true, .notice = false, .liveActivity = false};
    EXPECT_EQ(LiveActivity::choose(in), Live::none);
    in.notice = true;
    EXPECT_EQ(LiveActivity::choose(in), Live::notice);
    in.agentNeedsUser = true;
    EXPECT_EQ(LiveActivity::choose(in), Live::agent);
}

class LiveActivityTest : public test::LomexTest {
protected:
    FakeClock clock;
};

TEST_F(LiveActivityTest, FollowsInputsNoticeAndSetting) {
    Settings& s = Settings::shared();
    s.registerLaunchDefaults();
    NotchModel model(&clock, &s);
    LiveActivity live(&model, &s);
    EXPECT_EQ(model.live(), Live::none);

    live.setMedia(true);
    live.setTimer(true);
    EXPECT_EQ(model.live(), Live::timer);
    live.setLeave(true);
    EXPECT_EQ(model.live(), Live::leave);

    model.show(Notice::charging(80));
    EXPECT_EQ(model.live(), Live::notice);
    clock.advance(4.1);
    EXPECT_EQ(model.live(), Live::leave) << "the cleared notice gives way";

    s.set(keys::liveActivity, false); // observed: applies at once
    EXPECT_EQ(model.live(), Live::none);
    live.setAgentNeedsUser(true);
    EXPECT_EQ(model.live(), Live::agent);
    live.setAgentNeedsUser(false);
    s.set(keys::liveActivity, true);
    EXPECT_EQ(model.live(), Live::leave);
    live.setAgentActive(true);
    EXPECT_EQ(model.live(), Live::agent);
    live.setMeeting(true);
    EXPECT_EQ(model.live(), Live::meeting);
}
