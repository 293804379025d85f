// The editor's form of a keyboard type: 1 ANSI, 2 JIS, 0 neither. Wherever
// the editor chooses by it, any value other than 2 counts as ANSI.
#pragma once

#include <cstdint>

using KeymapTypeNumber = std::int32_t;
inline constexpr KeymapTypeNumber kKeymapTypeANSI = 1;
inline constexpr KeymapTypeNumber kKeymapTypeJIS = 2;
