// HID usages (keyboard page 7, and consumer Eject) to Linux input key codes
// and back. The mapping is the one the kernel's HID input layer applies to
// a real keyboard, so a remapped key behaves exactly like a keyboard that
// sends that usage.
#pragma once

#include <cstdint>
#include <optional>

#include "driver/key_filter.h"

namespace vexa {

// Linux key code for a usage, or nothing when Linux has no key for it.
std::optional<std::uint16_t> linuxKeyFromUsage(HidUsage usage);

// The key code the kernel reports for a usage: linuxKeyFromUsage, or
// KEY_UNKNOWN for the page-7 usages that the kernel passes on without a key
// of their own (with their scan code); nothing for usages it ignores.
std::optional<std::uint16_t> reportedKeyFromUsage(HidUsage usage);

// The usage that produces a Linux key code (the lowest page-7 usage when
// several do; Eject comes from the consumer page), or nothing.
std::optional<HidUsage> usageFromLinuxKey(std::uint16_t key);

}  // namespace vexa
