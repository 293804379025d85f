// The guest tests' view of the driver: its process, and its objects on the
// system bus.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct sd_bus;
struct sd_bus_message;
struct sd_bus_slot;

namespace vexa::guest {

// The VexaOrla service: a child process, or (given a unit name) the
// systemd unit, started and stopped with systemctl.
class DriverProcess {
public:
    explicit DriverProcess(std::string unit = "") : unit_(std::move(unit)) {}
    ~DriverProcess();
    DriverProcess(const DriverProcess&) = delete;
    DriverProcess& operator=(const DriverProcess&) = delete;
    // Starts it and waits until it is up: the driver owns its bus name.
    bool start(int timeoutMs = 10000);
    // SIGTERM and wait; the exit status, or -1 when it had to be killed.
    int stop(int timeoutMs = 5000);
    bool running() const { return pid_ > 0; }

private:
    bool startUnit(int timeoutMs);
    int stopUnit();

    std::string unit_;
    pid_t pid_ = -1;  // the unit's main process when it runs as a unit
};

struct InstanceInfo {
    std::string path;
    std::string cls;
    std::int32_t vendor = 0;
    std::int32_t product = 0;
    std::uint32_t location = 0;
};

// InterfacesAdded or InterfacesRemoved of the driver's object manager for
// an object that carries the instance interface.
struct ManagerSignal {
    std::string member;
    std::string path;
    friend bool operator==(const ManagerSignal&, const ManagerSignal&) = default;
};

class DriverBus {
public:
    // Connects to the system bus and listens to the object manager's signals.
    DriverBus();
    ~DriverBus();
    DriverBus(const DriverBus&) = delete;
    DriverBus& operator=(const DriverBus&) = delete;
    bool connected() const { return bus_ != nullptr; }
    bool nameHasOwner();
    // GetManagedObjects of the driver; empty when it is not there.
    std::vector<InstanceInfo> instances();
    // Properties.Get of an instance's Class; "" when the call failed
    // (message in `error`).
    std::string getClass(const std::string& path, std::string* error);
    // The object manager's signals received so far (pending ones are read first).
    const std::vector<ManagerSignal>& managerSignals();
    // SetProperties with {"VexaKeyMap": ay table}; the returned status, or
    // INT32_MIN when the call failed (message in `error`).
    std::int32_t setKeymap(const std::string& path, const std::vector<std::uint8_t>& table, std::string* error);

private:
    void handleManagerSignal(sd_bus_message* m);

    sd_bus* bus_ = nullptr;
    sd_bus_slot* match_ = nullptr;
    std::vector<ManagerSignal> signals_;
};

}  // namespace vexa::guest
