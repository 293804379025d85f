// The driver's event filter: given the active table, decides for one key
// event whether it passes unchanged, is dropped, or passes as another usage.
// Pure and allocation-free; the device glue calls it for every key event.
#pragma once

#include <cstdint>
#include <optional>

#include "keymap/keymap.h"
#include "platform/input/hid_usage.h"

namespace vexa {

// The usage to send for an event of `in`, or nothing when the event is
// dropped. Only page 7 usages 0-255 go through the table; a table value of
// 0 drops the event (press and release alike) and 111 becomes consumer Eject.
inline std::optional<HidUsage> filterKeyboardEvent(const std::uint8_t* keymap, HidUsage in) {
    if (in.page != kUsagePageKeyboard || in.usage > 255) return in;
    const std::uint8_t mapped = KZ714keycodeFromKeymap(keymap, in.usage);
    if (mapped == 0) return std::nullopt;
    if (mapped == KZ714_KEYCODE_EJECT) return HidUsage{kUsagePageConsumer, kConsumerEject};
    return HidUsage{kUsagePageKeyboard, mapped};
}

}  // namespace vexa
