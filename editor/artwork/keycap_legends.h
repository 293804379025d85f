// What is printed on each key cap: the legend of every keyboard usage
// (page 7) on the ANSI and on the JIS keyboard.
#pragma once

#include <cstdint>
#include <string>

#include "editor/layout/keyboard_layout.h"

namespace vexa::artwork {

enum class CapStyle {
    Blank,     // usage 0: no key
    Alpha,     // letters, digits, punctuation, space
    Function,  // modifiers, editing, navigation, function and media keys
    Keypad,    // keypad keys
    Japanese,  // keys of Japanese input
    Other,     // usages without a common key: shown by number
};

struct CapLegend {
    std::string main;     // large legend
    std::string shifted;  // printed above the main legend (digits, punctuation)
    std::string sub;      // small line below: "left", "keypad", ...
    CapStyle style = CapStyle::Other;
};

CapLegend capLegend(std::uint8_t code, layout::Board board);

// True when the ANSI and JIS keyboards print different legends for the usage.
bool differsByLayout(std::uint8_t code);

}  // namespace vexa::artwork
