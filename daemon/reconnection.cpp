// Module 150: reconnecting keyboards that no driver instance serves.
#include "daemon/reconnection.h"

#include "daemon/set_upper.h"
#include "driver/bus_names.h"
#include "keymap/keymap.h"
#include "platform/glue/log.h"
#include "platform/registry/registry.h"
#include "platform/units/unit_files.h"
#include "platform/usb/usb_devices.h"

namespace usb = vexa::usb;

bool is_orla_driver_installed(void) { return vexa::units::isSystemUnitInstalled(vexa::driverbus::kServiceUnit); }

void get_device_info(std::uint32_t device, std::uint32_t* vendor, std::uint32_t* product,
                     std::uint32_t* deviceClass) {
    if (vendor != nullptr) *vendor = usb::deviceDescriptorValue(device, "idVendor").value_or(0);
    if (product != nullptr) *product = usb::deviceDescriptorValue(device, "idProduct").value_or(0);
    if (deviceClass != nullptr) *deviceClass = usb::deviceDescriptorValue(device, "bDeviceClass").value_or(255);
}

bool is_orla_driver_loaded(std::uint32_t device) {
    if (device == 0) return false;
    const std::uint32_t location = usb::deviceLocationID(device);
    if (location == 0) return false;
    // Only the driver publishes objects, and Class must equal its class exactly.
    return vexa::registry::matchingServiceExists({vexa::driverbus::kDriverClass, location});
}

ErrorCode reconnect_vexa(std::uint32_t device) {
    usb::ReEnumerateStep failed{};
    const int status = usb::reEnumerate(device, &failed);
    if (status == 0) return 0;
    KZ710stackError(nullptr, status);
    vexa::logErrno(status, SD_WARNING "VexaOrlaSetUpper: USB device %s could not be re-enumerated",
                   usb::deviceName(device).c_str());
    switch (failed) {
    case usb::ReEnumerateStep::FindDevice: return kSetUpperErrFindDevice;
    case usb::ReEnumerateStep::FindAttribute: return kSetUpperErrFindAuthorized;
    case usb::ReEnumerateStep::Open: return kSetUpperErrOpenAuthorized;
    case usb::ReEnumerateStep::Switch: break;
    }
    return kSetUpperErrReEnumerate;
}

ErrorCode SetUpperClass::reconnecter() {
    // Without the driver, a reconnection would gain nothing.
    if (!is_orla_driver_installed()) return 0;
    // The driver, a service here, takes every keyboard that is present when
    // it starts. While it is not running (it failed, or is being restarted),
    // nothing could claim a re-enumerated keyboard: it would only go away and
    // come back unmapped, again at each restart of this daemon.
    if (!vexa::registry::driverIsRunning()) {
        vexa::logLine(SD_INFO "VexaOrlaSetUpper: the driver is not running; no keyboard is re-enumerated");
        return 0;
    }
    usb::Handle iterator = 0;
    if (usb::getDevices(&iterator) < 0) return 0;
    ErrorCode result = 0;
    while (const usb::Handle device = usb::iteratorNext(iterator)) {
        std::uint32_t vendor = 0, product = 0, deviceClass = 255;
        get_device_info(device, &vendor, &product, &deviceClass);
        // A keyboard of this system, its class defined per interface, and no driver instance at its location.
        if (KZ714keymapType(static_cast<std::int32_t>(vendor), static_cast<std::int32_t>(product)) != nullptr &&
            deviceClass == 0 && !is_orla_driver_loaded(device)) {
            vexa::logLine(SD_INFO "VexaOrlaSetUpper: no driver instance serves the keyboard on USB %s; "
                                  "re-enumerating it",
                          usb::deviceName(device).c_str());
            result = reconnect_vexa(device);
        }
        usb::objectRelease(device);
    }
    usb::objectRelease(iterator);
    return result;
}
