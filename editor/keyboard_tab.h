// The tab view that holds the four keyboard pages ("ansi", "ansi_fn", "jis",
// "jis_fn"): finding and selecting pages, switching between a keyboard's base
// page and FN page, finding key buttons, binding twins and assembling a
// Keymap from the buttons.
#pragma once

#include <cstdint>
#include <optional>

#include <QSet>
#include <QTabWidget>

#include "editor/keymap_type_number.h"

class KeyButtonClass;

// An unordered set of key buttons, created fresh for the caller.
using KeyButtonSet = QSet<KeyButtonClass*>;

class KeyboardTab : public QTabWidget {
    Q_OBJECT

public:
    explicit KeyboardTab(QWidget* parent = nullptr);

    // First page, in tab order, whose label equals the text exactly.
    QWidget* tabViewItemWithLabel(const QString& label) const;
    void selectTabViewItemWithLabel(const QString& label);
    QString selectedLabel() const;

    void selectKeymapType(KeymapTypeNumber type);
    KeymapTypeNumber selectedKeymapType() const;
    // Base page -> its FN page (with the FN keys shown held), FN page -> base page.
    void toggleFNMode();

    // Key buttons lying directly on the page; empty when no page has the label.
    KeyButtonSet allKeyButtonsInLabel(const QString& label) const;
    KeyButtonSet allKeyButtonsForKeymapType(KeymapTypeNumber type) const;
    KeyButtonSet allKeyButtonsANSI() const { return allKeyButtonsForKeymapType(kKeymapTypeANSI); }
    KeyButtonSet allKeyButtonsJIS() const { return allKeyButtonsForKeymapType(kKeymapTypeJIS); }

    // Buttons of the page with the base code (or default base code); none,
    // not an empty set, when nothing matches.
    std::optional<KeyButtonSet> findKeyButtonsForBasecodeInLabel(std::uint32_t code, const QString& label) const;
    std::optional<KeyButtonSet> findKeyButtonsInCurrentLabelForBasecode(std::uint32_t code) const;
    std::optional<KeyButtonSet> findKeyButtonsForDefaultBasecodeInLabel(std::uint32_t code,
                                                                        const QString& label) const;
    static std::uint32_t keycodeForBasecodeInKeyButtons(std::uint32_t code, const KeyButtonSet& buttons);

    // Keymap assembly: the buttons' codes over the table, or over the type's
    // default table for both of its pages. A null table does nothing.
    static void getKeyMapFromKeyButtons(std::uint8_t* keymap, const KeyButtonSet& buttons);
    void getKeymapForKeymapType(std::uint8_t* keymap, KeymapTypeNumber type) const;
    void getKeymapANSI(std::uint8_t* keymap) const { getKeymapForKeymapType(keymap, kKeymapTypeANSI); }
    void getKeymapJIS(std::uint8_t* keymap) const { getKeymapForKeymapType(keymap, kKeymapTypeJIS); }

    // Links each pair of buttons that share a base code; unlinks the rest.
    static void bindSiblingsInKeyButtons(const KeyButtonSet& buttons);
    void bindSiblingsANSI() { bindSiblingsInKeyButtons(allKeyButtonsANSI()); }
    void bindSiblingsJIS() { bindSiblingsInKeyButtons(allKeyButtonsJIS()); }

private:
    template <typename Field>
    std::optional<KeyButtonSet> findKeyButtons(const QString& label, Field field, std::uint32_t code) const;
};
