#include "tests/vm/reconnect_guest.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

#include "daemon/set_upper.h"
#include "driver/bus_names.h"
#include "tests/vm/driver_client.h"

namespace vexa::guest {

namespace {

const std::string kUnitFolder = "/lib/systemd/system/";
const std::string kUsbDevices = "/sys/bus/usb/devices/";
// The read-only stand-in that covers a locked `authorized` attribute.
constexpr char kLockedAttribute[] = "/run/vexa-locked-authorized";

std::string failure(const std::string& what) { return what + ": " + std::strerror(errno); }

std::string reloadSystemd() {
    return std::system("systemctl daemon-reload") == 0 ? "" : "systemctl daemon-reload failed";
}

// The gadget keyboards have one interface.
std::string interfaceOf(const std::string& device) { return device + ":1.0"; }

}  // namespace

ReconnectGuest::~ReconnectGuest() {
    // The mounts go first, while the attributes they cover are still there.
    for (auto it = mounts_.rbegin(); it != mounts_.rend(); ++it) ::umount(it->c_str());
    keyboards_.clear();
    if (unitHidden_) {
        const std::string unit = kUnitFolder + driverbus::kServiceUnit;
        if (::rename((unit + ".hidden").c_str(), unit.c_str()) != 0) std::perror("restoring the driver's unit");
        reloadSystemd();
    }
}

std::string ReconnectGuest::hideDriverUnit() {
    const std::string unit = kUnitFolder + driverbus::kServiceUnit;
    if (::rename(unit.c_str(), (unit + ".hidden").c_str()) != 0) return failure("cannot move " + unit);
    unitHidden_ = true;
    return reloadSystemd();
}

std::string ReconnectGuest::unbindInterface(const std::string& device) {
    std::ofstream unbind("/sys/bus/usb/drivers/usbhid/unbind");
    unbind << interfaceOf(device) << std::flush;
    return unbind ? "" : failure("usbhid did not let go of " + interfaceOf(device));
}

std::string ReconnectGuest::watch(const std::string& device) {
    const std::string path = kUsbDevices + interfaceOf(device) + "/bInterfaceClass";
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return failure("cannot open " + path);
    watched_[device] = std::move(fd);
    return "";
}

std::string ReconnectGuest::expectReEnumerated(const std::string& device, bool expected) {
    const auto it = watched_.find(device);
    if (it == watched_.end()) return device + " is not watched";
    char buffer[16];
    const bool gone = ::pread(it->second.get(), buffer, sizeof buffer, 0) < 0 && errno == ENODEV;
    watched_.erase(it);
    if (gone == expected) return "";
    return "USB device " + device + (expected ? " was not re-enumerated" : " was re-enumerated");
}

std::string ReconnectGuest::lockAuthorization(const std::string& device) {
    std::ofstream(kLockedAttribute) << "1\n";
    const std::string target = kUsbDevices + device + "/authorized";
    if (::mount(kLockedAttribute, target.c_str(), nullptr, MS_BIND, nullptr) != 0)
        return failure("cannot bind over " + target);
    mounts_.push_back(target);
    if (::mount(nullptr, target.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
        return failure("cannot make " + target + " read-only");
    return "";
}

std::string ReconnectGuest::switchOff(const std::string& device) {
    std::ofstream attribute(kUsbDevices + device + "/authorized");
    attribute << "0" << std::flush;
    return attribute ? "" : failure("cannot switch off " + device);
}

std::string ReconnectGuest::expectAuthorized(const std::string& device, bool expected) {
    std::string state;
    std::getline(std::ifstream(kUsbDevices + device + "/authorized"), state);
    if (state == (expected ? "1" : "0")) return "";
    return "USB device " + device + "'s authorized reads \"" + state + "\", expected " + (expected ? "1" : "0");
}

std::string ReconnectGuest::plug(const KeyboardDescription& keyboard, GadgetOptions options) {
    auto plugged = plugGadgetKeyboard(keyboard, options);
    if (!plugged) return "cannot plug in " + keyboard.name;
    keyboards_.push_back(std::move(plugged));
    return "";
}

std::string ReconnectGuest::waitForInstances(std::uint32_t location, std::size_t count) {
    DriverBus bus;
    std::size_t found = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (;;) {
        const auto instances = bus.instances();
        found = static_cast<std::size_t>(std::count_if(instances.begin(), instances.end(),
                                                       [&](const InstanceInfo& i) { return i.location == location; }));
        if (found == count || std::chrono::steady_clock::now() >= end) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (found == count) return "";
    char where[16];
    std::snprintf(where, sizeof where, "0x%08x", location);
    return std::to_string(found) + " driver instance(s) at " + where + ", expected " + std::to_string(count);
}

std::string ReconnectGuest::reconnecter(ErrorCode result, const std::string& newestEntry) {
    KZ710getErrorString();  // empties the stack
    ErrorCode r = 0;
    {
        SetUpperClass daemon;
        r = daemon.reconnecter();
    }
    const std::string newest = g_err_buf[0];
    KZ710getErrorString();
    if (r != result) return "reconnecter returned " + std::to_string(r) + ", expected " + std::to_string(result);
    if (newest != newestEntry) return "newest error-stack entry \"" + newest + "\", expected \"" + newestEntry + "\"";
    return "";
}

}  // namespace vexa::guest
