// The VexaOrla service: one sd-event loop that finds the suite's keyboards
// through udev (enumeration at start, monitor for hot-plug), runs one
// mirlan_VexaOrla per keyboard node and publishes each on the system bus
// under the object manager, until SIGTERM or SIGINT, or until the system bus
// is lost. A keyboard whose start fails, or whose instance ends on an error
// other than its removal, is tried again with a growing delay while its node
// exists, at once when uinput appears, and on udev's "change" for it.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "driver/bus_object.h"
#include "driver/mirlan_VexaOrla.h"
#include "platform/glue/owners.h"
#include "platform/input/input_loop.h"

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
    // Runs until SIGTERM or SIGINT (0), or until the system bus connection
    // is lost (-ECONNRESET: the service manager starts the driver again).
    // Either way every instance is stopped first: grab released, keys
    // released, virtual keyboard removed.
    int run();

private:
    struct Instance {
        std::unique_ptr<mirlan_VexaOrla> driver;
        std::string syspath;
        std::string objectPath;
        BusObjectData busData;
        BusSlotPtr slot;  // after busData, which its callbacks read
        bool gone = false;
        int endError = 0;
    };
    // A keyboard node that is not served yet, tried again on a timer.
    struct Waiting {
        DriverService* service = nullptr;
        std::string syspath;
        std::uint64_t delayUs = 0;
        EventSourcePtr timer;
    };

    static int onDeviceEvent(sd_device_monitor*, sd_device* device, void* self);
    static int onReap(sd_event_source*, void* self);
    static int onRetry(sd_event_source*, std::uint64_t, void* waiting);
    static int onBusDisconnected(sd_bus_message*, void* self, sd_bus_error*);
    int watchDevices();
    int attachPresent();
    void attach(sd_device* device);
    void retryLater(const std::string& syspath);
    void retryNow(const std::string& syspath);
    void attachWaiting();
    void detach(const std::string& syspath);
    void detachAll();
    void scheduleReap();

    EventPtr loop_;
    std::unique_ptr<InputLoop> input_;  // runs loop_, with the keyboards beside it
    BusPtr bus_;
    BusSlotPtr managerSlot_;
    BusSlotPtr managerObject_;
    BusSlotPtr disconnected_;
    DeviceMonitorPtr monitor_;
    EventSourcePtr reap_;
    std::map<std::string, std::unique_ptr<Instance>> instances_;  // by the node's syspath
    std::map<std::string, std::unique_ptr<Waiting>> waiting_;     // by the node's syspath
    unsigned serial_ = 0;
};

}  // namespace vexa
