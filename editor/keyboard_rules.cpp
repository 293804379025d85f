#include "editor/keyboard_rules.h"

#include <map>
#include <vector>

#include "keymap/keymap.h"

namespace vexa::pages {

KeymapTypeNumber keymapTypeForLabel(const QString& label) {
    return label.startsWith(QLatin1String("jis")) ? kKeymapTypeJIS : kKeymapTypeANSI;
}

QString baseLabel(const QString& label) { return label.section(QLatin1Char('_'), 0, 0); }

QString baseLabelForType(KeymapTypeNumber type) {
    return type == kKeymapTypeJIS ? QStringLiteral("jis") : QStringLiteral("ansi");
}

QString fnLabelForType(KeymapTypeNumber type) { return baseLabelForType(type) + QLatin1String("_fn"); }

void writeKeycodes(std::uint8_t* keymap, std::span<KeyButtonModel* const> keys) {
    if (keymap == nullptr) return;
    for (const KeyButtonModel* key : keys) {
        if (!key->isAssignable()) continue;
        const std::uint32_t base = key->basecode();
        const std::uint32_t code = key->keycode();
        if ((base | code) <= 255) keymap[base] = static_cast<std::uint8_t>(code);
    }
}

void assembleKeymap(std::uint8_t* keymap, KeymapTypeNumber type, std::span<KeyButtonModel* const> keys) {
    if (keymap == nullptr) return;
    if (type == kKeymapTypeJIS) {
        KZ714defaultOrlaJISKeymap(keymap);
    } else {
        KZ714defaultOrlaANSIKeymap(keymap);
    }
    writeKeycodes(keymap, keys);
}

void bindSiblings(std::span<KeyButtonModel* const> keys) {
    std::map<std::uint32_t, std::vector<KeyButtonModel*>> groups;
    for (KeyButtonModel* key : keys) groups[key->basecode()].push_back(key);
    for (auto& [code, group] : groups) {
        if (group.size() == 2) {
            group[0]->setSibling(group[1]);
        } else {
            for (KeyButtonModel* key : group) key->setSibling(nullptr);
        }
    }
}

KeymapTypeNumber keymapTypeForMenuIndex(qsizetype index) { return index == 1 ? kKeymapTypeJIS : kKeymapTypeANSI; }

}  // namespace vexa::pages
