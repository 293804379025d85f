// Rules of the keyboard pages that need no window: page labels and keyboard
// types, assembling a Keymap from keys, binding twin keys, and the keyboard
// menu's item order.
#pragma once

#include <cstdint>
#include <span>

#include <QString>

#include "editor/key_button_model.h"

namespace vexa::pages {

// 2 when the label begins with "jis", else 1.
KeymapTypeNumber keymapTypeForLabel(const QString& label);
// The text before the first "_": "ansi_fn" -> "ansi".
QString baseLabel(const QString& label);
// "jis" for type 2, "ansi" for every other value; the FN page adds "_fn".
QString baseLabelForType(KeymapTypeNumber type);
QString fnLabelForType(KeymapTypeNumber type);

// Writes each assignable key's code at its base code when both are at most
// 255; other entries are left as they are. Null does nothing.
void writeKeycodes(std::uint8_t* keymap, std::span<KeyButtonModel* const> keys);

// Fills the type's default table (JIS for 2, ANSI otherwise) and then writes
// the keys' codes over it. Null does nothing.
void assembleKeymap(std::uint8_t* keymap, KeymapTypeNumber type, std::span<KeyButtonModel* const> keys);

// Groups the keys by base code in visiting order: a group of exactly two
// becomes a mutual bond; every member of any other group loses its sibling.
void bindSiblings(std::span<KeyButtonModel* const> keys);

// Keyboard menu: the item at index 1 stands for JIS, any other for ANSI.
KeymapTypeNumber keymapTypeForMenuIndex(qsizetype index);

}  // namespace vexa::pages
