#include "driver/driver_service.h"

#include <systemd/sd-bus.h>
#include <systemd/sd-device.h>
#include <systemd/sd-event.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <vector>

#include "driver/attach_policy.h"
#include "driver/bus_names.h"
#include "driver/device_match.h"
#include "platform/glue/bus.h"
#include "platform/glue/log.h"
#include "platform/usb/usb_devices.h"

namespace vexa {

namespace {

std::string sysattr(sd_device* device, const char* name) {
    const char* value = nullptr;
    if (device == nullptr || sd_device_get_sysattr_value(device, name, &value) < 0 || value == nullptr) return "";
    return value;
}

std::string text(int (*get)(sd_device*, const char**), sd_device* device) {
    const char* value = nullptr;
    if (get(device, &value) < 0 || value == nullptr) return "";
    return value;
}

InputNodeFacts factsOf(sd_device* node) {
    InputNodeFacts facts;
    facts.sysname = text(sd_device_get_sysname, node);
    facts.devnode = text(sd_device_get_devname, node);
    sd_device* input = nullptr;
    if (sd_device_get_parent_with_subsystem_devtype(node, "input", nullptr, &input) >= 0) {
        facts.vendor = parseHexId(sysattr(input, "id/vendor"));
        facts.product = parseHexId(sysattr(input, "id/product"));
        facts.hasKeys = capabilityBitsSet(sysattr(input, "capabilities/key"));
    }
    sd_device* hid = nullptr;
    facts.hasHidParent = sd_device_get_parent_with_subsystem_devtype(node, "hid", nullptr, &hid) >= 0;
    return facts;
}

// Location of the keyboard's USB device; 0 when it is not on USB.
std::uint32_t locationOf(sd_device* node) {
    sd_device* usb = nullptr;
    if (sd_device_get_parent_with_subsystem_devtype(node, "usb", "usb_device", &usb) < 0) return 0;
    return usb::locationIDOf(usb);
}

int onSignal(sd_event_source* source, const signalfd_siginfo*, void*) {
    return sd_event_exit(sd_event_source_get_event(source), 0);
}

DeviceAction actionOf(sd_device* device) {
    sd_device_action_t action{};
    if (sd_device_get_action(device, &action) < 0) return DeviceAction::Other;
    switch (action) {
    case SD_DEVICE_ADD: return DeviceAction::Add;
    case SD_DEVICE_CHANGE: return DeviceAction::Change;
    case SD_DEVICE_REMOVE: return DeviceAction::Remove;
    default: return DeviceAction::Other;
    }
}

}  // namespace

DriverService::DriverService() = default;

DriverService::~DriverService() { detachAll(); }

int DriverService::start() {
    sd_event* loop = nullptr;
    int r = sd_event_default(&loop);
    loop_.reset(loop);
    if (r < 0) return logErrno(r, SD_ERR "VexaOrla: cannot create the event loop");
    input_ = std::make_unique<InputLoop>(loop);
    for (int sig : {SIGTERM, SIGINT}) {
        r = sd_event_add_signal(loop, nullptr, sig | SD_EVENT_SIGNAL_PROCMASK, onSignal, nullptr);
        if (r < 0) return logErrno(r, SD_ERR "VexaOrla: cannot watch signal %d", sig);
    }

    sd_bus* bus = nullptr;
    r = sd_bus_open_system(&bus);
    bus_.reset(bus);
    if (r < 0) return logErrno(r, SD_ERR "VexaOrla: cannot connect to the system bus");
    r = sd_bus_attach_event(bus, loop, SD_EVENT_PRIORITY_NORMAL);
    if (r < 0) return logErrno(r, SD_ERR "VexaOrla: cannot run the system bus on the event loop");
    sd_bus_slot* slot = nullptr;
    r = matchDisconnected(bus, &slot, onBusDisconnected, this);
    disconnected_.reset(slot);
    if (r < 0) return logErrno(r, SD_ERR "VexaOrla: cannot watch the system bus connection");
    r = sd_bus_add_object_manager(bus, &slot, driverbus::kManagerPath);
    managerSlot_.reset(slot);
    if (r < 0) return logErrno(r, SD_ERR "VexaOrla: cannot publish %s", driverbus::kManagerPath);
    r = addDriverManagerObject(bus, &slot);
    managerObject_.reset(slot);
    if (r < 0) return logErrno(r, SD_ERR "VexaOrla: cannot publish the driver's version");

    sd_event_source* reap = nullptr;
    r = sd_event_add_defer(loop, &reap, onReap, this);
    reap_.reset(reap);
    if (r >= 0) r = sd_event_source_set_enabled(reap, SD_EVENT_OFF);
    if (r < 0) return logErrno(r, SD_ERR "VexaOrla: cannot set up the removal of ended instances");
    sd_event_source_set_description(reap, "reap");

    if ((r = watchDevices()) < 0) return r;
    if ((r = attachPresent()) < 0) return r;

    r = sd_bus_request_name(bus, driverbus::kBusName, 0);
    if (r < 0) return logErrno(r, SD_ERR "VexaOrla: cannot own %s", driverbus::kBusName);
    return 0;
}

// Input nodes come and go; uinput ("misc") may appear after the driver
// started, when its module is loaded late.
int DriverService::watchDevices() {
    sd_device_monitor* monitor = nullptr;
    int r = sd_device_monitor_new(&monitor);
    monitor_.reset(monitor);
    if (r < 0) return logErrno(r, SD_ERR "VexaOrla: cannot watch udev");
    for (const char* subsystem : {"input", "misc"}) {
        r = sd_device_monitor_filter_add_match_subsystem_devtype(monitor, subsystem, nullptr);
        if (r < 0) return logErrno(r, SD_ERR "VexaOrla: cannot watch udev's %s devices", subsystem);
    }
    r = sd_device_monitor_attach_event(monitor, loop_.get());
    if (r < 0) return logErrno(r, SD_ERR "VexaOrla: cannot run the udev monitor on the event loop");
    r = sd_device_monitor_start(monitor, onDeviceEvent, this);
    if (r < 0) return logErrno(r, SD_ERR "VexaOrla: cannot start the udev monitor");
    return 0;
}

// Keyboards already present (the monitor already runs, so none is missed;
// one seen twice is attached once).
int DriverService::attachPresent() {
    sd_device_enumerator* raw = nullptr;
    int r = sd_device_enumerator_new(&raw);
    DeviceEnumeratorPtr enumerator(raw);
    if (r >= 0) r = sd_device_enumerator_add_match_subsystem(raw, "input", 1);
    if (r < 0) return logErrno(r, SD_ERR "VexaOrla: cannot enumerate input devices");
    for (sd_device* d = sd_device_enumerator_get_device_first(raw); d; d = sd_device_enumerator_get_device_next(raw))
        attach(d);
    return 0;
}

int DriverService::run() {
    const int r = input_->run();
    detachAll();
    if (bus_ && sd_bus_is_open(bus_.get()) > 0) {
        sd_bus_release_name(bus_.get(), driverbus::kBusName);
        sd_bus_flush(bus_.get());
    }
    return r < 0 ? r : 0;
}

int DriverService::onBusDisconnected(sd_bus_message*, void* userdata, sd_bus_error*) {
    auto* self = static_cast<DriverService*>(userdata);
    // Half-connected, the driver could neither take tables nor publish the
    // keyboards plugged in from now on: stop, and let the service manager
    // start it again once the bus is back.
    logLine(SD_ERR "VexaOrla: lost the system bus; stopping");
    return sd_event_exit(self->loop_.get(), -ECONNRESET);
}

int DriverService::onDeviceEvent(sd_device_monitor*, sd_device* device, void* userdata) {
    auto* self = static_cast<DriverService*>(userdata);
    const char* syspath = nullptr;
    if (sd_device_get_syspath(device, &syspath) < 0) return 0;
    DeviceEventFacts facts;
    facts.action = actionOf(device);
    facts.subsystem = text(sd_device_get_subsystem, device);
    facts.sysname = text(sd_device_get_sysname, device);
    facts.served = self->instances_.count(syspath) != 0;
    switch (decideDeviceEvent(facts)) {
    case DeviceVerdict::Attach: self->attach(device); break;
    case DeviceVerdict::Detach: self->detach(syspath); break;
    case DeviceVerdict::AttachWaiting: self->attachWaiting(); break;
    case DeviceVerdict::Ignore: break;
    }
    return 0;
}

void DriverService::attach(sd_device* device) {
    const InputNodeFacts facts = factsOf(device);
    if (!shouldAttach(facts)) return;
    const char* syspathText = nullptr;
    if (sd_device_get_syspath(device, &syspathText) < 0) return;
    const std::string syspath = syspathText;
    if (instances_.count(syspath)) return;

    auto instance = std::make_unique<Instance>();
    instance->syspath = syspath;
    instance->driver = std::make_unique<mirlan_VexaOrla>();
    InputProvider provider{facts.devnode, input_.get()};
    if (!instance->driver->handleStart(&provider)) {
        logLine(SD_WARNING "VexaOrla: %s (%04x:%04x) not attached; trying again later", facts.devnode.c_str(),
                static_cast<unsigned>(facts.vendor), static_cast<unsigned>(facts.product));
        retryLater(syspath);
        return;
    }
    Instance* raw = instance.get();
    raw->driver->setTerminationHandler([this, raw](int error) {
        raw->gone = true;
        raw->endError = error;
        scheduleReap();
    });
    raw->busData = {raw->driver.get(), locationOf(device)};
    raw->objectPath = std::string(driverbus::kManagerPath) + "/" + facts.sysname + "_" + std::to_string(++serial_);
    sd_bus_slot* slot = nullptr;
    int r = addDriverBusObject(bus_.get(), raw->objectPath, &raw->busData, &slot);
    raw->slot.reset(slot);
    if (r >= 0) r = sd_bus_emit_object_added(bus_.get(), raw->objectPath.c_str());
    if (r < 0) {
        logErrno(r, SD_ERR "VexaOrla: cannot publish %s", raw->objectPath.c_str());
        instance.reset();
        retryLater(syspath);
        return;
    }
    logLine(SD_INFO "VexaOrla: %s (%04x:%04x) attached as %s", facts.devnode.c_str(),
            static_cast<unsigned>(facts.vendor), static_cast<unsigned>(facts.product), raw->objectPath.c_str());
    waiting_.erase(syspath);
    instances_.emplace(syspath, std::move(instance));
}

void DriverService::retryLater(const std::string& syspath) {
    auto& waiting = waiting_[syspath];
    if (!waiting) waiting = std::make_unique<Waiting>(Waiting{this, syspath, 0, nullptr});
    waiting->delayUs = nextAttachRetryUs(waiting->delayUs);
    int r = 0;
    if (!waiting->timer) {
        sd_event_source* timer = nullptr;
        r = sd_event_add_time_relative(loop_.get(), &timer, CLOCK_MONOTONIC, waiting->delayUs, 0, onRetry,
                                       waiting.get());
        waiting->timer.reset(timer);
        if (r >= 0) sd_event_source_set_description(timer, "attach-retry");
    } else {
        r = sd_event_source_set_time_relative(waiting->timer.get(), waiting->delayUs);
        if (r >= 0) r = sd_event_source_set_enabled(waiting->timer.get(), SD_EVENT_ONESHOT);
    }
    // The keyboard still comes back on udev's "change" and when uinput appears.
    if (r < 0) logErrno(r, SD_ERR "VexaOrla: cannot set the timer that tries %s again", syspath.c_str());
}

int DriverService::onRetry(sd_event_source*, std::uint64_t, void* userdata) {
    auto* waiting = static_cast<Waiting*>(userdata);
    // The entry may go while the node is tried: keep what is needed.
    DriverService* self = waiting->service;
    const std::string syspath = waiting->syspath;
    self->retryNow(syspath);
    return 0;
}

void DriverService::retryNow(const std::string& syspath) {
    sd_device* raw = nullptr;
    if (sd_device_new_from_syspath(&raw, syspath.c_str()) < 0) {
        waiting_.erase(syspath);  // the node is gone
        return;
    }
    DevicePtr device(raw);
    attach(device.get());
}

void DriverService::attachWaiting() {
    std::vector<std::string> syspaths;
    for (const auto& [syspath, waiting] : waiting_) syspaths.push_back(syspath);
    for (const std::string& syspath : syspaths) retryNow(syspath);
}

void DriverService::detach(const std::string& syspath) {
    waiting_.erase(syspath);
    auto it = instances_.find(syspath);
    if (it == instances_.end()) return;
    Instance& instance = *it->second;
    if (bus_) sd_bus_emit_object_removed(bus_.get(), instance.objectPath.c_str());
    instance.slot.reset();
    logLine(SD_INFO "VexaOrla: %s detached", instance.objectPath.c_str());
    instances_.erase(it);
}

void DriverService::scheduleReap() {
    if (reap_) sd_event_source_set_enabled(reap_.get(), SD_EVENT_ONESHOT);
}

int DriverService::onReap(sd_event_source*, void* userdata) {
    auto* self = static_cast<DriverService*>(userdata);
    std::vector<std::pair<std::string, int>> ended;
    for (const auto& [syspath, instance] : self->instances_) {
        if (instance->gone) ended.emplace_back(syspath, instance->endError);
    }
    for (const auto& [syspath, error] : ended) {
        self->detach(syspath);
        // Anything but the keyboard's removal may pass: try it again.
        if (error != ENODEV) self->retryLater(syspath);
    }
    return 0;
}

void DriverService::detachAll() {
    while (!instances_.empty()) detach(instances_.begin()->first);
    waiting_.clear();
}

}  // namespace vexa
