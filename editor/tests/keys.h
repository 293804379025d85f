// Test helper: the one key button of a page with a base code.
#pragma once

#include <cstdint>
#include <optional>

#include <QString>

#include "editor/key_button.h"
#include "editor/keyboard_tab.h"

namespace vexa::test {

// The key button on the labelled page whose base code is `code`; null when
// there is none or more than one.
inline KeyButtonClass* keyOn(const KeyboardTab* tab, const QString& label, std::uint32_t code) {
    const std::optional<KeyButtonSet> found = tab->findKeyButtonsForBasecodeInLabel(code, label);
    return found && found->size() == 1 ? *found->begin() : nullptr;
}

}  // namespace vexa::test
