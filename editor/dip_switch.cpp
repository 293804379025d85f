// The ANSI keyboard's DIP switches 3 and 4, which change the usages five of
// its keys send. The user states their positions in the DIP switch sheet;
// the settings live in the editor's user defaults, with the legacy
// preference file's 'DSsw' 128 resource as a read-only fallback that is
// copied over when the sheet first opens. Applying them gives the keys of
// the "ansi" page the base codes the keyboard really sends, each key taking
// the output assigned to its new base code.
#include <QAction>
#include <QCheckBox>
#include <QDialog>
#include <QMainWindow>
#include <QPushButton>
#include <QSettings>

#include "editor/app_delegate.h"
#include "editor/key_button.h"
#include "errors/alerts.h"
#include "keymap/keymap.h"
#include "prefs/legacy_file.h"
#include "ui_dip_switch_sheet.h"

namespace {

constexpr char kSwitch3Key[] = "DipSwitch 3 - Vexa Orla ANSI";
constexpr char kSwitch4Key[] = "DipSwitch 4 - Vexa Orla ANSI";
constexpr char kAnsiBaseLabel[] = "ansi";

// The legacy resource: 'DSsw' 128, 16-bit words; switch 3 at byte 4,
// switch 4 at byte 6.
constexpr std::uint32_t kLegacyType = 0x44537377;  // 'DSsw'
constexpr std::int16_t kLegacyId = 128;

// The five keys the switches move, in the order they are applied, by the
// base code each sends with both switches off.
struct SwitchedKey {
    std::uint32_t defaultBasecode;
    int dipSwitch;
    std::uint32_t basecodeOn;
};
constexpr SwitchedKey kSwitchedKeys[] = {
    {0x4C, 3, 0x2A},  // Delete Forward sends Backspace
    {0xE2, 4, 0xE3},  // left Alt sends left GUI
    {0xE6, 4, 0xE7},  // right Alt sends right GUI
    {0xE3, 4, 0xE2},  // left GUI sends left Alt
    {0xE7, 4, 0xE6},  // right GUI sends right Alt
};

// A stored setting as a truth value: any non-zero number is on; text that
// is no number counts as Qt reads it (so "true" is on).
bool truthValue(const QVariant& value) {
    bool isNumber = false;
    const qlonglong number = value.toString().toLongLong(&isNumber);
    return isNumber ? number != 0 : value.toBool();
}

bool nonZeroWordAt(const std::vector<std::uint8_t>& data, std::size_t offset) {
    return data[offset] != 0 || data[offset + 1] != 0;
}

}  // namespace

QSettings& AppDelegateClass::userDefaults() {
    if (!userDefaults_) {
        userDefaults_ = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("mirlan"),
                                                    QStringLiteral("KeymapEditor"));
    }
    return *userDefaults_;
}

ErrorCode AppDelegateClass::readNewDipSwitch3Switch4(bool* switch3, bool* switch4) {
    const QVariant value3 = userDefaults().value(QLatin1String(kSwitch3Key));
    if (!value3.isValid()) return kErrNoDipSwitch3;
    if (switch3 != nullptr) *switch3 = truthValue(value3);
    const QVariant value4 = userDefaults().value(QLatin1String(kSwitch4Key));
    if (!value4.isValid()) return kErrNoDipSwitch4;
    if (switch4 != nullptr) *switch4 = truthValue(value4);
    return 0;
}

ErrorCode AppDelegateClass::wtiteNewDipSwitchWithSwitch3Switch4(bool switch3, bool switch4) {
    userDefaults().setValue(QLatin1String(kSwitch3Key), switch3 ? 1 : 0);
    userDefaults().setValue(QLatin1String(kSwitch4Key), switch4 ? 1 : 0);
    userDefaults().sync();
    // Only a failed write is a failure: QSettings keeps the first error it
    // met, and a file damaged by hand reads as a format error that stays
    // after the file has been written anew.
    return userDefaults().status() == QSettings::AccessError ? kErrFlushDipSwitch : 0;
}

ErrorCode AppDelegateClass::readOldDipSwitch3Switch4(bool* switch3, bool* switch4) {
    std::vector<std::uint8_t> data;
    switch (vexa::prefs::readLegacyResource(user(), kLegacyType, kLegacyId, data)) {
    case vexa::prefs::LegacyResource::Found: break;
    case vexa::prefs::LegacyResource::NoHome:
    case vexa::prefs::LegacyResource::NoPath: return kErrLegacyLocation;
    case vexa::prefs::LegacyResource::NoFile: return kErrLegacyResolve;
    case vexa::prefs::LegacyResource::CannotOpen: return kErrLegacyOpen;
    case vexa::prefs::LegacyResource::Missing: return kErrLegacyNoDipSwitch;
    }
    // A resource too short to hold both words holds no settings.
    if (data.size() < 8) return kErrLegacyNoDipSwitch;
    if (switch3 != nullptr) *switch3 = nonZeroWordAt(data, 4);
    if (switch4 != nullptr) *switch4 = nonZeroWordAt(data, 6);
    return 0;
}

ErrorCode AppDelegateClass::readDipSwitch3Switch4(bool* switch3, bool* switch4) {
    if (readNewDipSwitch3Switch4(switch3, switch4) == 0) return 0;
    if (readOldDipSwitch3Switch4(switch3, switch4) == 0) return 0;
    return kErrDipSwitchNotConfigured;
}

void AppDelegateClass::getDipSwitch3Switch4(bool* switch3, bool* switch4) {
    if (switch3 != nullptr) *switch3 = false;
    if (switch4 != nullptr) *switch4 = false;
    readDipSwitch3Switch4(switch3, switch4);
}

bool AppDelegateClass::isDipSwitchConfigured() { return readDipSwitch3Switch4(nullptr, nullptr) == 0; }

void AppDelegateClass::setBasecodeKeycodeToKeyButtonWithDefaultBasecodeInLabel(std::uint32_t basecode,
                                                                               std::uint32_t keycode,
                                                                               std::uint32_t defaultBasecode,
                                                                               const QString& label) {
    if (const std::optional<KeyButtonSet> buttons = keyboardTab->findKeyButtonsForDefaultBasecodeInLabel(defaultBasecode, label)) {
        for (KeyButtonClass* button : *buttons) {
            button->setBasecode(basecode);
            button->setKeycode(keycode);
        }
    }
}

void AppDelegateClass::applyDipSwitch3Switch4(bool switch3, bool switch4) {
    // Every output comes from the table as it was before any key moved, so
    // an assignment follows its base code to the key that now sends it.
    Keymap table;
    keyboardTab->getKeymapANSI(table);
    for (const SwitchedKey& key : kSwitchedKeys) {
        const bool on = key.dipSwitch == 3 ? switch3 : switch4;
        const std::uint32_t basecode = on ? key.basecodeOn : key.defaultBasecode;
        setBasecodeKeycodeToKeyButtonWithDefaultBasecodeInLabel(basecode, KZ714keycodeFromKeymap(table, basecode),
                                                                key.defaultBasecode, QLatin1String(kAnsiBaseLabel));
    }
    keyboardTab->bindSiblingsANSI();
}

void AppDelegateClass::applyDipSwitchANSI() {
    bool switch3 = false, switch4 = false;
    getDipSwitch3Switch4(&switch3, &switch4);
    applyDipSwitch3Switch4(switch3, switch4);
}

void AppDelegateClass::showDipSwitchWindow(QObject*) {
    if (dipSwitchWindow != nullptr && dipSwitchWindow->isVisible()) return;
    // From here on the current store holds settings: copied from the legacy
    // file, or both off.
    bool switch3 = false, switch4 = false;
    if (readNewDipSwitch3Switch4(&switch3, &switch4) != 0 && readOldDipSwitch3Switch4(&switch3, &switch4) != 0) {
        switch3 = switch4 = false;
    }
    if (const ErrorCode error = wtiteNewDipSwitchWithSwitch3Switch4(switch3, switch4); error != 0)
        KZ712abendApp(nullptr, error, kErrStoreDipSwitch);

    if (!window_->isActiveWindow()) showMainWindow();
    if (dipSwitchWindow == nullptr) {
        dipSwitchWindow = new QDialog(window_.get());
        dipSwitchUi_ = std::make_unique<Ui::DipSwitchSheet>();
        dipSwitchUi_->setupUi(dipSwitchWindow);
        dipSwitchWindow->setWindowModality(Qt::WindowModal);
        // The switches write the settings directly; the sheet keeps nothing.
        for (auto [check, key] : {std::pair{dipSwitchUi_->switch3, kSwitch3Key}, std::pair{dipSwitchUi_->switch4, kSwitch4Key}}) {
            connect(check, &QCheckBox::toggled, this,
                    [this, key](bool on) { userDefaults().setValue(QLatin1String(key), on ? 1 : 0); });
        }
        connect(dipSwitchUi_->closeButton, &QPushButton::clicked, this, &AppDelegateClass::closeDipSwitchWindow);
    }
    for (auto [check, on] : {std::pair{dipSwitchUi_->switch3, switch3}, std::pair{dipSwitchUi_->switch4, switch4}}) {
        const QSignalBlocker quiet(check);
        check->setChecked(on);
    }
    disconnect(dipSwitchWindow, &QDialog::finished, this, nullptr);
    connect(dipSwitchWindow, &QDialog::finished, this,
            [this, switch3, switch4] { dipSwitchSheetDidEnd(switch3, switch4); });
    dipSwitchWindow->open();
}

void AppDelegateClass::dipSwitchSheetDidEnd(bool switch3, bool switch4) {
    userDefaults().sync();
    bool now3 = false, now4 = false;
    getDipSwitch3Switch4(&now3, &now4);
    if (now3 != switch3 || now4 != switch4) applyDipSwitch3Switch4(now3, now4);
}

void AppDelegateClass::closeDipSwitchWindow() {
    if (dipSwitchWindow != nullptr) dipSwitchWindow->done(0);
}

void AppDelegateClass::showDipSwitchWindowIfFirstTimeToConnect() {
    if (keyboardTab->selectedKeymapType() == kKeymapTypeANSI && !isDipSwitchConfigured() &&
        isKeyboardConnectedForKeymapType(kKeymapTypeANSI)) {
        showDipSwitchWindow(nullptr);
    }
}

bool AppDelegateClass::validateDipSwitchMenuItem(QAction*) {
    if (dipSwitchWindow != nullptr && dipSwitchWindow->isVisible()) return false;
    if (!window_->isActiveWindow()) return false;
    return keyboardTab->selectedKeymapType() != kKeymapTypeJIS;
}
