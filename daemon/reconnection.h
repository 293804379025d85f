// Module 150's plain functions: keyboards of this system that no driver
// instance serves, found among the USB devices (platform/usb) and made to
// re-enumerate, so that the driver claims them as if they had been plugged
// in anew. SetUpperClass::reconnecter runs them once, at start, when the
// driver is installed and running (only a running driver claims them).
//
// Linux has no plug-in or device interface to obtain; each code of
// reconnect_vexa stands for the step of a re-enumeration through sysfs that
// takes its place (set_upper.h):
//   1500170  the device's sysfs folder cannot be opened: it has gone
//   1500180  the folder has no `authorized` attribute
//   1500188  `authorized` cannot be opened for reading and writing, or read
//   1500195  writing 0 (off) and then 1 (on) to it failed, or it reads 0:
//            the device is not authorized, and switching it on would
//            override the system's USB authorization policy (-EPERM)
// The step's negative errno is pushed on the error stack first.
#pragma once

#include <cstdint>

#include "errors/error_stack.h"

extern "C" {

// Whether the driver's unit file is in systemd's unit search path (and not masked).
bool is_orla_driver_installed(void);

// A USB device's vendor, product and device class, into the places given;
// absent attributes (or device handle 0) read as 0, 0 and 255.
void get_device_info(std::uint32_t device, std::uint32_t* vendor, std::uint32_t* product, std::uint32_t* deviceClass);

// Whether a driver instance is published with the device's location; false
// for handle 0, a device without a location, or a registry that cannot be asked.
bool is_orla_driver_loaded(std::uint32_t device);

// Re-enumerates the device: 0, or one of the codes above.
ErrorCode reconnect_vexa(std::uint32_t device);

}  // extern "C"
