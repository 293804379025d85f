// Modules 120, 130 and 140: putting the console user's tables into the
// driver instances when they appear and when "Reconfigure" arrives.
#include <cstring>

#include "daemon/set_upper.h"
#include "driver/bus_names.h"
#include "errors/daemon_alerts.h"
#include "keymap/keymap.h"
#include "platform/glue/log.h"
#include "prefs/prefs.h"
#include "prefs/setupper_bus.h"

namespace reg = vexa::registry;

// Module 120.

ErrorCode SetUpperClass::installDeviceNotify() {
    if (deviceNotifyInfo_ != nullptr) return 0;
    const ErrorCode r = KZ722installDeviceNotify(this, &deviceNotifyInfo_);
    if (r != 0) {
        KZ710stackError(nullptr, r);
        return kSetUpperErrInstallDevices;
    }
    return 0;
}

void SetUpperClass::removeDeviceNotify() {
    if (deviceNotifyInfo_ == nullptr) return;
    KZ722removeDeviceNotify(deviceNotifyInfo_);
    deviceNotifyInfo_ = nullptr;
    vexa::logLine(SD_INFO "VexaOrlaSetUpper: no longer watching driver instances");
}

void SetUpperClass::deviceAddedNotify(std::uint32_t iterator) {
    const ErrorCode r = setupKeyboardsWithIterator(iterator);
    if (r == 0) return;
    // A pass stops at its first failure. The instances left in the
    // iterator are taken out (without a table) so that the notification is
    // armed again and later keyboards are still set up.
    while (const std::uint32_t rest = reg::iteratorNext(iterator)) reg::objectRelease(rest);
    CautionApp(nullptr, r, kSetUpperErrAddedPass);
}

// Module 130.

ErrorCode SetUpperClass::setupKeyboardKeymap(std::uint32_t entry, const std::uint8_t* keymap) {
    if (entry == 0 || keymap == nullptr) return kSetUpperErrNoInstance;
    const int status = reg::entrySetDataProperty(entry, vexa::driverbus::kKeymapProperty,
                                                 std::span<const std::uint8_t>(keymap, KZ714_KEYMAP_SIZE));
    if (status != 0) {
        KZ710stackError(nullptr, status);
        return kSetUpperErrSetProperty;
    }
    return 0;
}

ErrorCode SetUpperClass::setupKeyboard(std::uint32_t entry) {
    std::uint32_t vendor = 0, product = 0;
    ErrorCode r = KZ722getRegistryInfo(entry, &vendor, &product);
    if (r != 0) {
        KZ710stackError(nullptr, r);
        return kSetUpperErrNoIds;
    }
    const KeymapType type = KZ714keymapType(static_cast<std::int32_t>(vendor), static_cast<std::int32_t>(product));
    if (type == nullptr) return 0;  // a keyboard of another model
    std::optional<std::array<std::uint8_t, KZ714_KEYMAP_SIZE>> single;  // outside a pass: read for this keyboard
    auto& table = inPass_ ? passTables_[std::strcmp(type, KZ714_TYPE_JIS) == 0 ? 1 : 0] : single;
    if (!table) {
        std::array<std::uint8_t, KZ714_KEYMAP_SIZE> read{};
        r = readSessionTable(type, read.data());
        if (r != 0) {
            KZ710stackError(nullptr, r);
            return kSetUpperErrReadTable;
        }
        table = read;
    }
    const std::uint8_t* keymap = table->data();
    r = setupKeyboardKeymap(entry, keymap);
    if (r != 0) {
        KZ710stackError(nullptr, r);
        return kSetUpperErrWriteTable;
    }
    return 0;
}

ErrorCode SetUpperClass::readSessionTable(KeymapType type, std::uint8_t* keymap) {
    if (sessionUser_) return KZ730readKeymap(sessionUser_->c_str(), type, keymap);
    // Nobody at the console: the type's default, and nobody's file is read.
    if (std::strcmp(type, KZ714_TYPE_JIS) == 0) KZ714defaultOrlaJISKeymap(keymap);
    else KZ714defaultOrlaANSIKeymap(keymap);
    return 0;
}

ErrorCode SetUpperClass::setupKeyboardsWithIterator(std::uint32_t iterator) {
    // A pass reads the saved tables anew, once per type.
    struct Pass {
        SetUpperClass& self;
        explicit Pass(SetUpperClass& s) : self(s) { self.inPass_ = true; }
        ~Pass() {
            self.inPass_ = false;
            self.passTables_ = {};
        }
    } pass(*this);
    if (iterator == 0) return 0;
    while (const std::uint32_t entry = reg::iteratorNext(iterator)) {
        const ErrorCode r = setupKeyboard(entry);
        reg::objectRelease(entry);
        if (r != 0) {
            KZ710stackError(nullptr, r);
            return kSetUpperErrIterator;
        }
    }
    return 0;
}

ErrorCode SetUpperClass::setupAllKeyboards() {
    std::uint32_t iterator = 0;
    const int status = reg::getMatchingServices({vexa::driverbus::kDriverClass, std::nullopt}, &iterator);
    if (status != 0) {
        KZ710stackError(nullptr, status);
        return kSetUpperErrSearch;
    }
    if (iterator == 0) return 0;
    const ErrorCode r = setupKeyboardsWithIterator(iterator);
    reg::objectRelease(iterator);
    if (r != 0) {
        KZ710stackError(nullptr, r);
        return kSetUpperErrAllKeyboards;
    }
    return 0;
}

// Module 140.

ErrorCode SetUpperClass::registerSetUpperNotification() {
    const ErrorCode r = KZ730registerSetUpperNotification(this);
    if (r != 0) {
        KZ710stackError(nullptr, r);
        return kSetUpperErrRegister;
    }
    observing_ = true;
    return 0;
}

void SetUpperClass::removeSetUpperNotification() {
    KZ730removeSetUpperNotification(this);
    if (observing_) vexa::logLine(SD_INFO "VexaOrlaSetUpper: no longer observing \"Reconfigure\"");
    observing_ = false;
}

void SetUpperClass::setUpperNotification(const vexa::Notification& notification) {
    if (notification.object != vexa::setupper_bus::kReconfigure) return;
    const ErrorCode r = setupAllKeyboards();
    if (r != 0) CautionApp(nullptr, r, kSetUpperErrReconfigurePass);
}
