// Which udev events attach, detach or retry a keyboard node, and the retry delays.
#include "driver/attach_policy.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using vexa::DeviceAction;
using vexa::DeviceVerdict;

TEST(AttachPolicy, DeviceEvents) {
    struct Case {
        const char* what;
        vexa::DeviceEventFacts facts;
        DeviceVerdict verdict;
    };
    const std::vector<Case> cases = {
        {"a new input node", {DeviceAction::Add, "input", "event5", false}, DeviceVerdict::Attach},
        {"change for a node nobody serves (udevadm trigger)", {DeviceAction::Change, "input", "event5", false},
         DeviceVerdict::Attach},
        {"change for a served node", {DeviceAction::Change, "input", "event5", true}, DeviceVerdict::Ignore},
        {"removal", {DeviceAction::Remove, "input", "event5", true}, DeviceVerdict::Detach},
        {"removal of a node that only waits", {DeviceAction::Remove, "input", "event5", false},
         DeviceVerdict::Detach},
        {"bind and other actions", {DeviceAction::Other, "input", "event5", false}, DeviceVerdict::Ignore},
        {"uinput appears (module loaded late)", {DeviceAction::Add, "misc", "uinput", false},
         DeviceVerdict::AttachWaiting},
        {"uinput changes", {DeviceAction::Change, "misc", "uinput", false}, DeviceVerdict::AttachWaiting},
        {"uinput goes", {DeviceAction::Remove, "misc", "uinput", false}, DeviceVerdict::Ignore},
        {"another misc device", {DeviceAction::Add, "misc", "uhid", false}, DeviceVerdict::Ignore},
        {"another subsystem", {DeviceAction::Add, "hidraw", "hidraw0", false}, DeviceVerdict::Ignore},
    };
    for (const Case& c : cases) EXPECT_EQ(vexa::decideDeviceEvent(c.facts), c.verdict) << c.what;
}

TEST(AttachPolicy, RetryDelayDoublesFromOneSecondUpToHalfAMinute) {
    std::vector<std::uint64_t> delays;
    std::uint64_t d = 0;
    for (int i = 0; i < 8; ++i) delays.push_back(d = vexa::nextAttachRetryUs(d));
    EXPECT_EQ(delays, (std::vector<std::uint64_t>{1000000, 2000000, 4000000, 8000000, 16000000, 30000000, 30000000,
                                                  30000000}));
}

}  // namespace
