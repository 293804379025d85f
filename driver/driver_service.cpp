#include "driver/driver_service.h"

#include <systemd/sd-bus.h>
#include <systemd/sd-device.h>
#include <systemd/sd-event.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <cstdlib>

#include "driver/bus_names.h"
#include "driver/device_match.h"
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

}  // namespace

DriverService::DriverService() = default;

DriverService::~DriverService() {
    detachAll();
    reap_ = sd_event_source_disable_unref(reap_);
    monitor_ = sd_device_monitor_unref(monitor_);
    managerSlot_ = sd_bus_slot_unref(managerSlot_);
    if (bus_) sd_bus_flush_close_unref(bus_);
    bus_ = nullptr;
    loop_ = sd_event_unref(loop_);
}

int DriverService::start() {
    int r = sd_event_default(&loop_);
    if (r < 0) {
        std::fprintf(stderr, "VexaOrla: cannot create the event loop: %s\n", std::strerror(-r));
        return r;
    }
    for (int sig : {SIGTERM, SIGINT}) {
        r = sd_event_add_signal(loop_, nullptr, sig | SD_EVENT_SIGNAL_PROCMASK, onSignal, nullptr);
        if (r < 0) {
            std::fprintf(stderr, "VexaOrla: cannot watch signal %d: %s\n", sig, std::strerror(-r));
            return r;
        }
    }
    r = sd_bus_open_system(&bus_);
    if (r >= 0) r = sd_bus_attach_event(bus_, loop_, SD_EVENT_PRIORITY_NORMAL);
    if (r >= 0) r = sd_bus_add_object_manager(bus_, &managerSlot_, driverbus::kManagerPath);
    if (r < 0) {
        std::fprintf(stderr, "VexaOrla: cannot use the system bus: %s\n", std::strerror(-r));
        return r;
    }
    r = sd_event_add_defer(loop_, &reap_, onReap, this);
    if (r >= 0) r = sd_event_source_set_enabled(reap_, SD_EVENT_OFF);
    if (r >= 0) r = sd_device_monitor_new(&monitor_);
    if (r >= 0) r = sd_device_monitor_filter_add_match_subsystem_devtype(monitor_, "input", nullptr);
    if (r >= 0) r = sd_device_monitor_attach_event(monitor_, loop_);
    if (r >= 0) r = sd_device_monitor_start(monitor_, onDeviceEvent, this);
    if (r < 0) {
        std::fprintf(stderr, "VexaOrla: cannot watch udev: %s\n", std::strerror(-r));
        return r;
    }

    // Keyboards already present (the monitor already runs, so none is missed;
    // one seen twice is attached once).
    sd_device_enumerator* e = nullptr;
    r = sd_device_enumerator_new(&e);
    if (r >= 0) r = sd_device_enumerator_add_match_subsystem(e, "input", 1);
    if (r < 0) {
        sd_device_enumerator_unref(e);
        std::fprintf(stderr, "VexaOrla: cannot enumerate input devices: %s\n", std::strerror(-r));
        return r;
    }
    for (sd_device* d = sd_device_enumerator_get_device_first(e); d; d = sd_device_enumerator_get_device_next(e))
        attach(d);
    sd_device_enumerator_unref(e);

    r = sd_bus_request_name(bus_, driverbus::kBusName, 0);
    if (r < 0) {
        std::fprintf(stderr, "VexaOrla: cannot own %s: %s\n", driverbus::kBusName, std::strerror(-r));
        return r;
    }
    return 0;
}

int DriverService::run() {
    const int r = sd_event_loop(loop_);
    detachAll();
    if (bus_) {
        sd_bus_release_name(bus_, driverbus::kBusName);
        sd_bus_flush(bus_);
    }
    return r < 0 ? r : 0;
}

int DriverService::onDeviceEvent(sd_device_monitor*, sd_device* device, void* userdata) {
    auto* self = static_cast<DriverService*>(userdata);
    sd_device_action_t action{};
    if (sd_device_get_action(device, &action) < 0) return 0;
    if (action == SD_DEVICE_ADD) {
        self->attach(device);
    } else if (action == SD_DEVICE_REMOVE) {
        const char* syspath = nullptr;
        if (sd_device_get_syspath(device, &syspath) >= 0) self->detach(syspath);
    }
    return 0;
}

void DriverService::attach(sd_device* device) {
    const InputNodeFacts facts = factsOf(device);
    if (!shouldAttach(facts)) return;
    const char* syspath = nullptr;
    if (sd_device_get_syspath(device, &syspath) < 0 || instances_.count(syspath)) return;

    auto instance = std::make_unique<Instance>();
    instance->syspath = syspath;
    instance->driver = std::make_unique<mirlan_VexaOrla>();
    InputProvider provider{facts.devnode, loop_};
    if (!instance->driver->handleStart(&provider)) {
        std::fprintf(stderr, "VexaOrla: %s (%04x:%04x) not attached\n", facts.devnode.c_str(),
                     static_cast<unsigned>(facts.vendor), static_cast<unsigned>(facts.product));
        return;
    }
    Instance* raw = instance.get();
    raw->driver->setTerminationHandler([this, raw] {
        raw->gone = true;
        scheduleReap();
    });
    raw->busData = {raw->driver.get(), locationOf(device)};
    raw->objectPath = std::string(driverbus::kManagerPath) + "/" + facts.sysname + "_" + std::to_string(++serial_);
    int r = addDriverBusObject(bus_, raw->objectPath, &raw->busData, &raw->slot);
    if (r >= 0) r = sd_bus_emit_object_added(bus_, raw->objectPath.c_str());
    if (r < 0) {
        std::fprintf(stderr, "VexaOrla: cannot publish %s: %s\n", raw->objectPath.c_str(), std::strerror(-r));
        raw->slot = sd_bus_slot_unref(raw->slot);
        return;
    }
    std::fprintf(stderr, "VexaOrla: %s (%04x:%04x) attached as %s\n", facts.devnode.c_str(),
                 static_cast<unsigned>(facts.vendor), static_cast<unsigned>(facts.product), raw->objectPath.c_str());
    instances_.emplace(raw->syspath, std::move(instance));
}

void DriverService::detach(const std::string& syspath) {
    auto it = instances_.find(syspath);
    if (it == instances_.end()) return;
    Instance& instance = *it->second;
    if (bus_) sd_bus_emit_object_removed(bus_, instance.objectPath.c_str());
    instance.slot = sd_bus_slot_unref(instance.slot);
    std::fprintf(stderr, "VexaOrla: %s detached\n", instance.objectPath.c_str());
    instances_.erase(it);
}

void DriverService::scheduleReap() {
    if (reap_) sd_event_source_set_enabled(reap_, SD_EVENT_ONESHOT);
}

int DriverService::onReap(sd_event_source*, void* userdata) {
    auto* self = static_cast<DriverService*>(userdata);
    for (auto it = self->instances_.begin(); it != self->instances_.end();) {
        const std::string syspath = it->first;
        const bool gone = it->second->gone;
        ++it;
        if (gone) self->detach(syspath);
    }
    return 0;
}

void DriverService::detachAll() {
    while (!instances_.empty()) detach(instances_.begin()->first);
}

}  // namespace vexa
