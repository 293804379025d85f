// USB devices from sd-device, and their re-enumeration through sysfs.
#include "platform/usb/usb_devices.h"

#include <fcntl.h>
#include <systemd/sd-device.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <deque>
#include <string_view>
#include <unordered_map>

#include "platform/glue/log.h"
#include "platform/glue/owners.h"
#include "platform/usb/authorization.h"
#include "platform/usb/location_id.h"

namespace vexa::usb {

namespace {

constexpr char kAuthorized[] = "authorized";

// A device, or an iterator with the devices it still has to hand out.
struct Object {
    DevicePtr device;
    std::deque<DevicePtr> queued;
    bool iterator = false;
};

class HandleTable {
public:
    Handle add(Object object) {
        do ++last_;
        while (last_ == 0 || objects_.count(last_) != 0);
        objects_.emplace(last_, std::move(object));
        return last_;
    }
    Object* find(Handle handle) {
        const auto it = objects_.find(handle);
        return it != objects_.end() ? &it->second : nullptr;
    }
    bool release(Handle handle) { return objects_.erase(handle) != 0; }

private:
    std::unordered_map<Handle, Object> objects_;
    Handle last_ = 0;
};

HandleTable& handles() {
    static HandleTable table;
    return table;
}

sd_device* deviceOf(Handle handle) {
    const Object* object = handles().find(handle);
    return object != nullptr && !object->iterator ? object->device.get() : nullptr;
}

std::string_view sysattr(sd_device* device, const char* name) {
    const char* value = nullptr;
    if (device == nullptr || sd_device_get_sysattr_value(device, name, &value) < 0 || value == nullptr) return {};
    std::string_view text(value);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.remove_suffix(1);
    return text;
}

template <typename Number>
std::optional<Number> parse(std::string_view text, int base) {
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

}  // namespace

int getDevices(Handle* iterator) {
    sd_device_enumerator* raw = nullptr;
    int r = sd_device_enumerator_new(&raw);
    if (r < 0) return r;
    DeviceEnumeratorPtr enumerator(raw);
    r = sd_device_enumerator_add_match_subsystem(enumerator.get(), "usb", 1);
    if (r < 0) return r;
    Object object;
    object.iterator = true;
    for (sd_device* d = sd_device_enumerator_get_device_first(enumerator.get()); d != nullptr;
         d = sd_device_enumerator_get_device_next(enumerator.get())) {
        // The subsystem also holds the devices' interfaces.
        const char* type = nullptr;
        if (sd_device_get_devtype(d, &type) >= 0 && type != nullptr && std::strcmp(type, "usb_device") == 0)
            object.queued.emplace_back(sd_device_ref(d));
    }
    *iterator = handles().add(std::move(object));
    return 0;
}

Handle iteratorNext(Handle iterator) {
    Object* object = handles().find(iterator);
    if (object == nullptr || !object->iterator || object->queued.empty()) return 0;
    Object entry;
    entry.device = std::move(object->queued.front());
    object->queued.pop_front();
    return handles().add(std::move(entry));
}

int objectRelease(Handle object) { return handles().release(object) ? 0 : -EBADF; }

std::optional<std::uint16_t> deviceDescriptorValue(Handle device, const char* attribute) {
    return parse<std::uint16_t>(sysattr(deviceOf(device), attribute), 16);
}

std::uint32_t locationIDOf(sd_device* usbDevice) {
    const auto bus = parse<unsigned>(sysattr(usbDevice, "busnum"), 10);
    return bus ? usbLocationID(*bus, sysattr(usbDevice, "devpath")) : 0;
}

std::uint32_t deviceLocationID(Handle device) { return locationIDOf(deviceOf(device)); }

std::string deviceName(Handle device) {
    const char* name = nullptr;
    sd_device* d = deviceOf(device);
    return d != nullptr && sd_device_get_sysname(d, &name) >= 0 && name != nullptr ? name : "";
}

int reEnumerate(Handle device, ReEnumerateStep* failed) {
    const auto fail = [failed](ReEnumerateStep step, int r) {
        if (failed != nullptr) *failed = step;
        return r;
    };
    sd_device* d = deviceOf(device);
    const char* syspath = nullptr;
    if (d == nullptr) return fail(ReEnumerateStep::FindDevice, -EBADF);
    if (const int r = sd_device_get_syspath(d, &syspath); r < 0) return fail(ReEnumerateStep::FindDevice, r);

    // The folder is looked up anew: the device may have gone since the scan.
    Fd folder(::open(syspath, O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!folder) return fail(ReEnumerateStep::FindDevice, -errno);
    if (::faccessat(folder.get(), kAuthorized, F_OK, 0) != 0) return fail(ReEnumerateStep::FindAttribute, -errno);
    Fd attribute(::openat(folder.get(), kAuthorized, O_RDWR | O_CLOEXEC | O_NOFOLLOW));
    if (!attribute) return fail(ReEnumerateStep::Open, -errno);
    folder.reset();

    // A device switched off was refused by the system's USB authorization
    // policy (or by its administrator): switching it on would override that.
    char state = 0;
    const ssize_t n = ::pread(attribute.get(), &state, 1, 0);
    if (n != 1) return fail(ReEnumerateStep::Open, n < 0 ? -errno : -EIO);
    if (state == '0') {
        logLine(SD_NOTICE "USB device %s is not authorized; it stays switched off", deviceName(device).c_str());
        return fail(ReEnumerateStep::Switch, -EPERM);
    }

    // Each write is one request to the kernel, which answers when the
    // configuration is down (0) or set up again (1).
    const SwitchResult result = switchOffAndOn([&attribute](bool on) {
        const ssize_t n = ::pwrite(attribute.get(), on ? "1" : "0", 1, 0);
        return n == 1 ? 0 : n < 0 ? -errno : -EIO;
    });
    if (result.leftOff) {
        logErrno(result.status, SD_ERR "USB device %s stays switched off until it is plugged in again",
                 deviceName(device).c_str());
    }
    return result.status < 0 ? fail(ReEnumerateStep::Switch, result.status) : 0;
}

}  // namespace vexa::usb
