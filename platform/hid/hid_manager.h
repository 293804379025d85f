// The HID manager of the graphical programs, over hidraw: HID devices are
// found and watched through udev (subsystem "hidraw"), each one's report
// descriptor is read from sysfs and its vendor and product from HID_ID, and
// an opened device's input reports arrive on the Qt event loop as input
// values (usage page, usage, integer value). Needs a QCoreApplication.
//
// The shapes follow the platform's HID manager that the editor's code was
// written for: a manager with matching criteria and C callbacks (context,
// result, sender, device or value), devices with properties, an open that
// returns a status, and an access check.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "errors/error_stack.h"
#include "platform/glue/owners.h"
#include "platform/hid/device_match.h"
#include "platform/hid/input_decoder.h"

class QObject;
class QSocketNotifier;
struct sd_device;
struct sd_device_monitor;

namespace vexa::hid {

class Manager;

// One hidraw node of a matched HID device. Owned by its manager; it lives
// until the device is removed (after the removal callback) or the manager
// goes.
class Device {
public:
    // `sender` is this device.
    using InputValueCallback = void (*)(void* context, ErrorCode result, void* sender, const InputValue& value);

    Device(std::string syspath, std::string devnode, DeviceFacts facts, ReportDescriptor descriptor);
    ~Device();
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    // "VendorID" and "ProductID" (read-only), and any number stored with
    // setProperty; nothing for an unknown key.
    std::optional<std::int64_t> property(std::string_view key) const;
    // Stores a number under `key`; false for the read-only keys.
    bool setProperty(std::string_view key, std::int64_t value);

    // Opens the node for reading, not exclusively: 0 or a negative errno
    // (-EACCES when this user may not read it). Opening an open device is 0.
    ErrorCode open();
    // May this user read the node? False only when the system denies the
    // permission; a node that has gone away is not a refusal.
    bool checkAccess() const;

    // Input values of the open device go to `callback` on the Qt event loop
    // (from scheduleWithRunLoop until unscheduleFromRunLoop).
    void registerInputValueCallback(InputValueCallback callback, void* context);
    void scheduleWithRunLoop();
    void unscheduleFromRunLoop();
    bool isOpen() const { return static_cast<bool>(fd_); }

    const std::string& syspath() const { return syspath_; }
    const std::string& devnode() const { return devnode_; }
    const DeviceFacts& facts() const { return facts_; }

private:
    friend class Manager;
    void updateNotifier();
    void readReports();
    // Hands the values to the input callback; false when a callback ended
    // the device or closed it.
    bool deliver(const std::vector<InputValue>& values);
    // The device has gone: value 0 for every key it left down, so that
    // nothing stays pressed; false as deliver.
    bool releaseAll();
    void close();

    std::string syspath_;
    std::string devnode_;
    DeviceFacts facts_;
    InputDecoder decoder_;
    std::map<std::string, std::int64_t, std::less<>> properties_;
    Fd fd_;
    bool scheduled_ = false;
    std::unique_ptr<QSocketNotifier> notifier_;
    InputValueCallback inputCallback_ = nullptr;
    void* inputContext_ = nullptr;
    bool announced_ = false;  // the matching callback has seen it
    // Expires with the device: a callback that ends it is noticed.
    std::shared_ptr<int> alive_ = std::make_shared<int>();
};

class Manager {
public:
    // `sender` is the manager.
    using DeviceCallback = void (*)(void* context, ErrorCode result, void* sender, Device* device);

    Manager();
    ~Manager();
    Manager(const Manager&) = delete;
    Manager& operator=(const Manager&) = delete;

    // Devices that meet any of these criteria are matched (none: every HID
    // device). Set before scheduling.
    void setDeviceMatching(std::vector<DeviceMatching> matchings);
    // Called once for every matching device present when watching starts
    // (from the event loop, after scheduleWithRunLoop has returned) and for
    // every one that appears later.
    void registerDeviceMatchingCallback(DeviceCallback callback, void* context);
    // Called when a matched device goes, after its input callback has been
    // given value 0 for every key the device left down; the device is
    // deleted afterwards.
    void registerDeviceRemovalCallback(DeviceCallback callback, void* context);

    // Starts watching udev and finds the devices present. 0 or a negative errno.
    ErrorCode scheduleWithRunLoop();
    // Stops watching: no more callbacks of any kind, and the devices are
    // released (without removal callbacks), since their removal would go
    // unseen. Scheduling again finds the devices present anew.
    void unscheduleFromRunLoop();

    // The devices currently matched.
    std::vector<Device*> copyDevices() const;

    // A device found by other means than udev (a test's description of a
    // keyboard) is taken as if udev had reported it: kept when it meets the
    // criteria and its syspath is new, and announced at once while
    // watching. The device kept, or null.
    Device* addDevice(std::unique_ptr<Device> device);
    // Forgets the device at `syspath` as udev's removal does.
    void removeDevice(const std::string& syspath) { remove(syspath); }

private:
    static int onUdevEvent(sd_device_monitor* monitor, sd_device* device, void* userdata);
    void dispatchUdev();
    void consider(sd_device* hidraw, bool announceNow);
    Device* keep(std::unique_ptr<Device> device, bool announceNow);
    void remove(const std::string& syspath);
    void announcePending();

    std::vector<DeviceMatching> matchings_;
    DeviceCallback matchCallback_ = nullptr;
    void* matchContext_ = nullptr;
    DeviceCallback removalCallback_ = nullptr;
    void* removalContext_ = nullptr;
    std::map<std::string, std::unique_ptr<Device>> devices_;  // by syspath
    struct Watch;
    std::unique_ptr<Watch> watch_;
    std::unique_ptr<QObject> guard_;  // queued calls die with the manager
    std::shared_ptr<int> alive_ = std::make_shared<int>();
};

// May this user read the node at `path`? False only when the system denies
// the permission.
bool mayReadNode(const std::string& path);

}  // namespace vexa::hid
