// USB devices as udev knows them (subsystem "usb", device type
// "usb_device"), held as 32-bit handles the way platform/registry holds the
// driver's objects: an iterator over every device, each device's
// descriptor values and bus location, and re-enumeration through its
// `authorized` attribute (authorization.h). 0 is never a handle. Everything
// runs on the process's main thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct sd_device;

namespace vexa::usb {

using Handle = std::uint32_t;

// Every USB device there is now, as a new iterator in `*iterator`. 0 or a
// negative errno.
int getDevices(Handle* iterator);

// The next device of an iterator (a handle the caller releases), 0 at the end.
Handle iteratorNext(Handle iterator);

// Releases a device or an iterator. 0, or -EBADF when there is no such handle.
int objectRelease(Handle object);

// A descriptor value as the device's sysfs attribute shows it, in hex
// ("idVendor", "idProduct", "bDeviceClass"); none when the attribute is
// absent, is no 16-bit hex number, or the handle is no device.
std::optional<std::uint16_t> deviceDescriptorValue(Handle device, const char* attribute);

// The device's location (location_id.h) from its bus number and port
// path; 0 when the handle is no device or the attributes are unreadable.
std::uint32_t deviceLocationID(Handle device);
// The same for a USB device of udev's (device type "usb_device").
std::uint32_t locationIDOf(sd_device* usbDevice);

// The kernel's name of the device ("1-1", "2-1.4"); "" for no device.
std::string deviceName(Handle device);

// The steps of a re-enumeration, for callers that report each one apart.
enum class ReEnumerateStep {
    FindDevice,     // the device's sysfs folder is gone (or the handle is no device)
    FindAttribute,  // the folder has no `authorized` attribute
    Open,           // the attribute cannot be opened for reading and writing, or read
    Switch,         // switching off or on failed (see switchOffAndOn), or the device
                    // is not authorized (-EPERM): it is never switched on against
                    // the system's USB authorization policy
};

// Makes the device re-enumerate: writes 0 and then 1 to its `authorized`
// attribute, with switchOffAndOn's recovery; a device whose attribute
// reads 0 is left alone. Returns as soon as the kernel
// has set the device up again; its interfaces' drivers and udev follow
// asynchronously. 0, or a negative errno with the failed step in `*failed`.
// Nothing stays open on any path; a device left switched off is logged.
int reEnumerate(Handle device, ReEnumerateStep* failed);

}  // namespace vexa::usb
