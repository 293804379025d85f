// Keyboard watching and live key highlighting: every keyboard is matched,
// the two supported ones are tagged with their keyboard type and opened
// (not exclusively), and each key they report lights the buttons of the
// page shown that carry its usage as base code, until it is released. Two
// seconds after a supported keyboard appears, a driver object must exist.
#include "editor/live_keys.h"

#include <QSet>
#include <QTimer>

#include "editor/app_delegate.h"
#include "editor/editor_platform.h"
#include "editor/key_button.h"
#include "errors/alerts.h"
#include "keymap/keymap.h"
#include "platform/hid/hid_manager.h"

namespace {

// The property that carries a supported keyboard's KeymapTypeNumber.
constexpr char kKeymapTypeProperty[] = "VexaKeyMap";
// Keyboards: generic desktop page, keyboard usage.
constexpr std::uint16_t kGenericDesktopPage = 1;
constexpr std::uint16_t kKeyboardUsage = 6;
// Keys that light: keyboard page, from the letter A to the right GUI key.
constexpr std::uint16_t kKeyboardPage = 7;
constexpr std::uint16_t kFirstLitUsage = 0x04;
constexpr std::uint16_t kLastLitUsage = 0xE7;
constexpr int kDriverCheckDelayMs = 2000;

vexa::hid::Device* asDevice(void* sender) { return static_cast<vexa::hid::Device*>(sender); }

}  // namespace

extern "C" void Device_Callback(void* context, ErrorCode result, void*, vexa::hid::Device* device) {
    if (result != 0 || device == nullptr) return;
    const KeymapTypeNumber type = GetKeymapType_ForDevice(device);
    if (type == 0) return;  // some other keyboard
    if (!device->setProperty(kKeymapTypeProperty, type)) KZ712abendApp(nullptr, 0, AppDelegateClass::kErrTagKeyboard);
    static_cast<AppDelegateClass*>(context)->registerInputValue(device);
}

extern "C" KeymapTypeNumber GetKeymapType_ForDevice(const vexa::hid::Device* device) {
    const auto vendor = device->property("VendorID");
    const auto product = device->property("ProductID");
    const KeymapType name = KZ714keymapType(static_cast<std::int32_t>(vendor.value_or(0)),
                                            static_cast<std::int32_t>(product.value_or(0)));
    if (name == nullptr) return 0;
    if (std::string_view(name) == KZ714_TYPE_JIS) return kKeymapTypeJIS;
    if (std::string_view(name) == KZ714_TYPE_ANSI) return kKeymapTypeANSI;
    return 0;
}

extern "C" void InputValue_Callback(void* context, ErrorCode result, void* sender, const vexa::hid::InputValue& value) {
    if (result != 0) return;
    const auto type = asDevice(sender)->property(kKeymapTypeProperty);
    if (!type) KZ712abendApp(nullptr, 0, AppDelegateClass::kErrUntaggedKeyboard);
    auto* delegate = static_cast<AppDelegateClass*>(context);
    if (const ErrorCode error = delegate->inputValueKeymapType(value, static_cast<KeymapTypeNumber>(*type)); error != 0)
        KZ712abendApp(nullptr, error, AppDelegateClass::kErrInputValue);
}

ErrorCode AppDelegateClass::installDeviceNotify() {
    if (hidManager) return 0;
    auto manager = std::make_unique<vexa::hid::Manager>();
    vexa::hid::DeviceMatching keyboards;
    keyboards.usagePage = kGenericDesktopPage;
    keyboards.usage = kKeyboardUsage;
    manager->setDeviceMatching({keyboards});
    manager->registerDeviceMatchingCallback(Device_Callback, this);
    // Without udev's events the keyboards could not be followed: as if the
    // manager could not be made.
    if (const ErrorCode error = manager->scheduleWithRunLoop(); error != 0) {
        KZ710stackError(nullptr, error);
        return kErrCreateHidManager;
    }
    hidManager = std::move(manager);
    return 0;
}

void AppDelegateClass::removeDeviceNotify() {
    if (hidManager) hidManager->unscheduleFromRunLoop();
    hidManager.reset();
}

void AppDelegateClass::registerInputValue(vexa::hid::Device* device) {
    // Every supported keyboard schedules a check of its own.
    QTimer::singleShot(kDriverCheckDelayMs, Qt::PreciseTimer, this, &AppDelegateClass::checkDriver);
    showDipSwitchWindowIfFirstTimeToConnect();

    const ErrorCode status = device->open();
    if (status == 0) {
        device->scheduleWithRunLoop();
        device->registerInputValueCallback(InputValue_Callback, this);
        return;
    }
    const bool allowed = ioHIDCheckAccess(device);
    if (deviceOpenErrShown) return;
    const auto [message, info] = deviceOpenAlert(allowed, karabinerElements, status);
    KZ712showAlert(message, info, this);
    deviceOpenErrShown = true;
}

std::pair<QString, QString> AppDelegateClass::deviceOpenAlert(bool allowed, bool karabinerElements, ErrorCode status) {
    QString message, detail;
    if (allowed) {
        // Another program holds the keyboard.
        if (karabinerElements) {
            detail = vexa::localizedText(
                "You can solve it if turning off “Modify events from this device” option of this Vexa in Devices tab "
                "of Karabiner-Elements Preferences.");
        }
        message = vexa::localizedText(
            "Pressed keys will not be highlighted because another application controls this Vexa exclusively. "
            "However, you can change the configuration.");
    } else {
        detail = vexa::localizedText(
            "Please turn on “Vexa Orla for Mac” in System Preferences > Security & Privacy > Privacy > Input "
            "Monitoring. If you have already done it, please turn off it and turn on it again.");
        message = vexa::localizedText(
            "Pressed keys will not be highlighted because this application is not allowed to receive keystrokes. "
            "However, you can change the configuration.");
    }
    // "%@ (%#x)": the status as C prints an unsigned 32-bit number in the
    // alternative hexadecimal form.
    const QString info = detail + QString::asprintf(" (%#x)", static_cast<unsigned>(status));
    return {message, info};
}

ErrorCode AppDelegateClass::inputValueKeymapType(const vexa::hid::InputValue& value, KeymapTypeNumber type) {
    // Keys of a keyboard whose pages are not shown never light.
    if (keyboardTab->selectedKeymapType() != type) return 0;
    if (value.usagePage != kKeyboardPage || value.usage < kFirstLitUsage || value.usage > kLastLitUsage) return 0;
    const bool pressed = (value.value & 0xFF) != 0;
    if (const std::optional<KeyButtonSet> buttons = keyboardTab->findKeyButtonsInCurrentLabelForBasecode(value.usage)) {
        for (KeyButtonClass* button : *buttons) button->setHighlighted(pressed);
    }
    return 0;
}

void AppDelegateClass::checkDriver() {
    // Each keyboard's check may come due while the first one's alert is
    // open: the editor is ending already, one alert says why.
    if (driverCheckFailed_) return;
    // A keyboard unplugged before its check came due has no driver instance
    // to find: with no keyboard left there is nothing the driver should
    // serve, and ending the editor would blame a driver that runs.
    if (const std::optional<QSet<vexa::hid::Device*>> keyboards = connectedKeyboards(); keyboards && keyboards->isEmpty())
        return;
    if (!isDriverLoaded()) {
        driverCheckFailed_ = true;
        terminateWithMsgInfo(vexa::localizedText("Driver is not loaded."),
                             vexa::localizedText("You need to install driver again."));
    }
}

std::optional<QSet<vexa::hid::Device*>> AppDelegateClass::connectedKeyboards() const {
    if (!hidManager) return std::nullopt;
    QSet<vexa::hid::Device*> keyboards;
    for (vexa::hid::Device* device : hidManager->copyDevices()) {
        if (GetKeymapType_ForDevice(device) != 0) keyboards.insert(device);
    }
    return keyboards;
}

bool AppDelegateClass::isKeyboardConnectedForKeymapType(KeymapTypeNumber type) const {
    const std::optional<QSet<vexa::hid::Device*>> keyboards = connectedKeyboards();
    if (!keyboards) return false;
    for (const vexa::hid::Device* device : *keyboards) {
        if (GetKeymapType_ForDevice(device) == type) return true;
    }
    return false;
}

bool AppDelegateClass::isDriverLoaded() const { return platform_->isDriverLoaded(); }

bool AppDelegateClass::isDriverInstalled() const { return platform_->isDriverInstalled(); }

bool AppDelegateClass::ioHIDCheckAccess(const vexa::hid::Device* device) { return device->checkAccess(); }
