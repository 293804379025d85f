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
    bool leftOff = false;  // switched off, and switching on failed in the retry too
};

// Switches off and then on through `write` (0 or a negative errno). When
// switching on fails after switching off worked, it is tried once more: a
// device left switched off (or unconfigured) is dead until it is
// re-plugged, which for a keyboard is worse than one no driver serves. The
// kernel marks a device authorized before it sets up its configuration, so
// after a failed setup a second "on" alone would only find the mark and
// return at once: the retry switches off again first, and the setup runs
// anew. A retry that works still reports the first failure.
SwitchResult switchOffAndOn(const std::function<int(bool on)>& write);

}  // namespace vexa::usb
