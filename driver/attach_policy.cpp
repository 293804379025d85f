#include "driver/attach_policy.h"

#include <algorithm>

namespace vexa {

namespace {

constexpr std::uint64_t kFirstRetryUs = 1000000;
constexpr std::uint64_t kLongestRetryUs = 30000000;

}  // namespace

DeviceVerdict decideDeviceEvent(const DeviceEventFacts& facts) {
    if (facts.subsystem == "misc") {
        const bool uinputArrived = facts.sysname == "uinput" &&
                                   (facts.action == DeviceAction::Add || facts.action == DeviceAction::Change);
        return uinputArrived ? DeviceVerdict::AttachWaiting : DeviceVerdict::Ignore;
    }
    if (facts.subsystem != "input") return DeviceVerdict::Ignore;
    switch (facts.action) {
    case DeviceAction::Add:
        return DeviceVerdict::Attach;
    case DeviceAction::Change:
        return facts.served ? DeviceVerdict::Ignore : DeviceVerdict::Attach;
    case DeviceAction::Remove:
        return DeviceVerdict::Detach;
    case DeviceAction::Other:
        break;
    }
    return DeviceVerdict::Ignore;
}

std::uint64_t nextAttachRetryUs(std::uint64_t previousUs) {
    if (previousUs == 0) return kFirstRetryUs;
    return std::min(previousUs * 2, kLongestRetryUs);
}

}  // namespace vexa
