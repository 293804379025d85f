// The Linux key code that the kernel's HID input layer gives a usage of the
// keyboard page (7), and consumer Eject. A remapped key is sent with the key
// code a real keyboard sending that usage would get, so it behaves exactly
// like one; the guest's HID table check compares this table with the kernel.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/input/hid_usage.h"

namespace vexa {

// The key code the kernel reports for a usage: KEY_UNKNOWN for the page-7
// usages that it passes on without a key of their own (with their scan
// code), nothing for the usages it ignores (0-3, pages and usages outside
// the table).
std::optional<std::uint16_t> reportedKeyFromUsage(HidUsage usage);

}  // namespace vexa
