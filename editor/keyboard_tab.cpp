#include "editor/keyboard_tab.h"

#include <vector>

#include "editor/key_button.h"
#include "editor/keyboard_rules.h"

namespace {

std::vector<KeyButtonModel*> models(const KeyButtonSet& buttons) {
    std::vector<KeyButtonModel*> keys;
    keys.reserve(static_cast<std::size_t>(buttons.size()));
    for (KeyButtonClass* button : buttons) keys.push_back(&button->model());
    return keys;
}

}  // namespace

KeyboardTab::KeyboardTab(QWidget* parent) : QTabWidget(parent) {}

QWidget* KeyboardTab::tabViewItemWithLabel(const QString& label) const {
    for (int i = 0; i < count(); ++i) {
        if (tabText(i) == label) return widget(i);
    }
    return nullptr;
}

void KeyboardTab::selectTabViewItemWithLabel(const QString& label) {
    if (QWidget* page = tabViewItemWithLabel(label)) setCurrentWidget(page);
}

QString KeyboardTab::selectedLabel() const { return currentIndex() < 0 ? QString() : tabText(currentIndex()); }

void KeyboardTab::selectKeymapType(KeymapTypeNumber type) {
    selectTabViewItemWithLabel(vexa::pages::baseLabelForType(type));
}

KeymapTypeNumber KeyboardTab::selectedKeymapType() const {
    return vexa::pages::keymapTypeForLabel(selectedLabel());
}

void KeyboardTab::toggleFNMode() {
    const QString label = selectedLabel();
    const QString head = vexa::pages::baseLabel(label);
    if (head != label) {
        selectTabViewItemWithLabel(head);
        return;
    }
    const QString target = head + QLatin1String("_fn");
    for (std::uint32_t fnKey : {KeyButtonModel::kFNKey, KeyButtonModel::kFNKey2}) {
        if (const std::optional<KeyButtonSet> keys = findKeyButtonsForBasecodeInLabel(fnKey, target)) {
            (*keys->begin())->setHighlighted(true);
        }
    }
    selectTabViewItemWithLabel(target);
}

KeyButtonSet KeyboardTab::allKeyButtonsInLabel(const QString& label) const {
    KeyButtonSet buttons;
    buttons.reserve(100);
    if (const QWidget* page = tabViewItemWithLabel(label)) {
        for (QObject* child : page->children()) {
            if (auto* button = qobject_cast<KeyButtonClass*>(child)) buttons.insert(button);
        }
    }
    return buttons;
}

KeyButtonSet KeyboardTab::allKeyButtonsForKeymapType(KeymapTypeNumber type) const {
    return allKeyButtonsInLabel(vexa::pages::baseLabelForType(type)) +
           allKeyButtonsInLabel(vexa::pages::fnLabelForType(type));
}

template <typename Field>
std::optional<KeyButtonSet> KeyboardTab::findKeyButtons(const QString& label, Field field, std::uint32_t code) const {
    KeyButtonSet found;
    found.reserve(4);
    for (KeyButtonClass* button : allKeyButtonsInLabel(label)) {
        if ((button->*field)() == code) found.insert(button);
    }
    if (found.isEmpty()) return std::nullopt;
    return found;
}

std::optional<KeyButtonSet> KeyboardTab::findKeyButtonsForBasecodeInLabel(std::uint32_t code,
                                                                          const QString& label) const {
    return findKeyButtons(label, &KeyButtonClass::basecode, code);
}

std::optional<KeyButtonSet> KeyboardTab::findKeyButtonsInCurrentLabelForBasecode(std::uint32_t code) const {
    return findKeyButtonsForBasecodeInLabel(code, selectedLabel());
}

std::optional<KeyButtonSet> KeyboardTab::findKeyButtonsForDefaultBasecodeInLabel(std::uint32_t code,
                                                                                 const QString& label) const {
    return findKeyButtons(label, &KeyButtonClass::defaultBasecode, code);
}

std::uint32_t KeyboardTab::keycodeForBasecodeInKeyButtons(std::uint32_t code, const KeyButtonSet& buttons) {
    for (const KeyButtonClass* button : buttons) {
        if (button->basecode() == code) return button->keycode();
    }
    return 0;
}

void KeyboardTab::getKeyMapFromKeyButtons(std::uint8_t* keymap, const KeyButtonSet& buttons) {
    vexa::pages::writeKeycodes(keymap, models(buttons));
}

void KeyboardTab::getKeymapForKeymapType(std::uint8_t* keymap, KeymapTypeNumber type) const {
    vexa::pages::assembleKeymap(keymap, type, models(allKeyButtonsForKeymapType(type)));
}

void KeyboardTab::bindSiblingsInKeyButtons(const KeyButtonSet& buttons) {
    vexa::pages::bindSiblings(models(buttons));
}
