// When the service attaches a keyboard node, lets it go, or tries again:
// udev's device events and failed starts decided as plain data, so that the
// rules are tested without udev.
#pragma once

#include <cstdint>
#include <string>

namespace vexa {

enum class DeviceAction { Add, Change, Remove, Other };

struct DeviceEventFacts {
    DeviceAction action = DeviceAction::Other;
    std::string subsystem;  // "input", "misc"
    std::string sysname;    // "event5", "uinput"
    bool served = false;    // a driver instance runs on this node
};

enum class DeviceVerdict {
    Ignore,
    // Try to attach the node (shouldAttach decides whether it is ours).
    Attach,
    // Stop the node's instance and forget any retry of it.
    Detach,
    // uinput has appeared: attach every keyboard waiting for a retry now.
    AttachWaiting,
};

// "change" (udevadm trigger, the default action) brings a keyboard whose
// start failed back like "add"; a node already served is left alone.
DeviceVerdict decideDeviceEvent(const DeviceEventFacts& facts);

// Delay before the next try to attach a keyboard whose start failed or
// whose instance ended on a transient error: 1 s, then doubling, at most
// 30 s. `previousUs` is 0 before the first retry.
std::uint64_t nextAttachRetryUs(std::uint64_t previousUs);

}  // namespace vexa
