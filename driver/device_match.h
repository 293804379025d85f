// Which input nodes get a driver instance: every evdev node with keys whose
// input id is a keyboard of this suite and that belongs to a HID device.
// Virtual keyboards made through uinput (the driver's own clones among them)
// have no HID parent, so the driver never attaches to its own output.
#pragma once

#include <cstdint>
#include <string>

namespace vexa {

struct InputNodeFacts {
    std::string sysname;     // "event5"
    std::string devnode;     // "/dev/input/event5"
    std::int32_t vendor = 0;
    std::int32_t product = 0;
    bool hasKeys = false;    // the input device reports at least one key
    bool hasHidParent = false;
};

bool shouldAttach(const InputNodeFacts& node);

// True when a capabilities bitmap from sysfs ("120013", "10000 0 e080ffdf")
// has any bit set.
bool capabilityBitsSet(const std::string& bitmap);

// The USB id from a sysfs id file ("04fe\n"), or -1.
std::int32_t parseHexId(const std::string& text);

}  // namespace vexa
