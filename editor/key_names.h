// Names of keyboard usages (page 7) in words, as screen readers and UI
// automation read them: the accessible names of key buttons and palette caps.
// The JIS keyboard prints other legends on a few keys, so the name depends on
// the keyboard type. Every cap of a palette has a name of its own.
#pragma once

#include <cstdint>

#include <QString>

#include "editor/keymap_type_number.h"

namespace vexa {

// "Caps Lock", "Left Control", "Keypad 1", "F20"...; "No Key" for 0, "Fn"
// for the FN keys (254, 255), "Usage 0x92" for a usage without a common key
// and "Code 300" above 255.
QString keyName(std::uint32_t code, KeymapTypeNumber type);

}  // namespace vexa
