// The VexaOrla service: one sd-event loop that finds the suite's keyboards
// through udev (enumeration at start, monitor for hot-plug), runs one
// mirlan_VexaOrla per keyboard node and publishes each on the system bus
// under the object manager, until SIGTERM or SIGINT.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "driver/bus_object.h"
#include "driver/mirlan_VexaOrla.h"

struct sd_bus;
struct sd_bus_slot;
struct sd_device;
struct sd_device_monitor;
struct sd_event;
struct sd_event_source;

namespace vexa {

class DriverService {
public:
    DriverService();
    ~DriverService();
    DriverService(const DriverService&) = delete;
    DriverService& operator=(const DriverService&) = delete;

    // Connects to the bus, attaches to present keyboards, then takes the
    // bus name. 0 or a negative errno (with a message on stderr).
    int start();
    // Runs until SIGTERM or SIGINT; then every instance is stopped (grab
    // released, virtual keyboard removed). 0 or a negative errno.
    int run();

    struct Instance {
        std::unique_ptr<mirlan_VexaOrla> driver;
        std::string syspath;
        std::string objectPath;
        BusObjectData busData;
        sd_bus_slot* slot = nullptr;
        bool gone = false;
    };

private:
    static int onDeviceEvent(sd_device_monitor*, sd_device* device, void* self);
    static int onReap(sd_event_source*, void* self);
    void attach(sd_device* device);
    void detach(const std::string& syspath);
    void scheduleReap();
    void detachAll();

    sd_event* loop_ = nullptr;
    sd_bus* bus_ = nullptr;
    sd_bus_slot* managerSlot_ = nullptr;
    sd_device_monitor* monitor_ = nullptr;
    sd_event_source* reap_ = nullptr;
    std::map<std::string, std::unique_ptr<Instance>> instances_;  // by the node's syspath
    unsigned serial_ = 0;
};

}  // namespace vexa
