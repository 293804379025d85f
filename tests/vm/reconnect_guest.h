// Reconnection in the guest, for scenario steps (step::Run): the driver's
// unit file taken out of systemd's unit search path, a USB keyboard whose
// driver instance goes while the keyboard stays (usbhid lets go of its
// interface), its `authorized` attribute made read-only by a bind mount, a
// second USB keyboard, and the daemon's reconnection run in this process.
// USB devices are named as the kernel names them ("1-1": bus 1, port 1).
// Each action returns "" or what went wrong; whatever was changed is
// undone when the object goes.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "errors/error_stack.h"
#include "platform/glue/owners.h"
#include "tests/vm/test_keyboard.h"

namespace vexa::guest {

class ReconnectGuest {
public:
    ReconnectGuest() = default;
    ~ReconnectGuest();
    ReconnectGuest(const ReconnectGuest&) = delete;
    ReconnectGuest& operator=(const ReconnectGuest&) = delete;

    // The driver's unit file leaves the search path; systemd reloads.
    std::string hideDriverUnit();
    // usbhid lets go of the device's interface: its input nodes go, and with
    // them the driver instance, while the USB device stays configured.
    std::string unbindInterface(const std::string& device);
    // Keeps an attribute of the device's interface open. The kernel removes
    // the interface when the device re-enumerates, so expectReEnumerated can
    // tell afterwards whether that happened, without waiting.
    std::string watch(const std::string& device);
    std::string expectReEnumerated(const std::string& device, bool expected);
    std::string lockAuthorization(const std::string& device);
    // The device switched off, as a USB authorization policy leaves a device
    // it refuses, and what its `authorized` attribute reads afterwards.
    std::string switchOff(const std::string& device);
    std::string expectAuthorized(const std::string& device, bool expected);
    // A USB keyboard besides the scenario's own, and the number of driver
    // instances at a location to wait for (at most 5 s).
    std::string plug(const KeyboardDescription& keyboard, GadgetOptions options);
    std::string waitForInstances(std::uint32_t location, std::size_t count);
    // SetUpperClass::reconnecter in this process, on a cleared error stack:
    // its result, and the newest entry it left on the stack ("" for none).
    std::string reconnecter(ErrorCode result, const std::string& newestEntry);

private:
    bool unitHidden_ = false;
    std::vector<std::string> mounts_;
    std::map<std::string, Fd> watched_;
    std::vector<std::unique_ptr<TestKeyboard>> keyboards_;
};

}  // namespace vexa::guest
