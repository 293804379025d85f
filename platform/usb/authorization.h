// Re-enumerating a USB device by switching its authorization off and on
// (the device's `authorized` attribute): the kernel takes the device's
// configuration down, sets it up again and binds every interface driver
// anew, as after a re-plug, without a disconnect on the bus. Pure: the
// writes go through a callback, so the order and the recovery are tested
// without a device.
#pragma once

#include <functional>

namespace vexa::usb {

struct SwitchResult {
    int status = 0;        // 0, or the first failed write's negative errno
    bool leftOff = false;  // switched off, and switching on failed twice
};

// Switches off and then on through `write` (0 or a negative errno). When
// switching on fails after switching off worked, it is tried once more: a
// device left switched off is dead until it is re-plugged, which for a
// keyboard is worse than one no driver serves. A retry that works still
// reports the first failure: the kernel marks a device authorized before it
// configures it, so a second "on" may only have set the mark.
SwitchResult switchOffAndOn(const std::function<int(bool on)>& write);

}  // namespace vexa::usb
