// The guest tests' view of the driver: its process, and its objects on the
// system bus.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

struct sd_bus;

namespace vexa::guest {

// The VexaOrla service as a child process.
class DriverProcess {
public:
    ~DriverProcess();
    // Starts it and waits until it owns its bus name.
    bool start(int timeoutMs = 10000);
    // SIGTERM and wait; the exit status, or -1 when it had to be killed.
    int stop(int timeoutMs = 5000);
    bool running() const { return pid_ > 0; }

private:
    pid_t pid_ = -1;
};

struct InstanceInfo {
    std::string path;
    std::string cls;
    std::int32_t vendor = 0;
    std::int32_t product = 0;
    std::uint32_t location = 0;
};

class DriverBus {
public:
    DriverBus();
    ~DriverBus();
    bool connected() const { return bus_ != nullptr; }
    bool nameHasOwner();
    // GetManagedObjects of the driver; empty when it is not there.
    std::vector<InstanceInfo> instances();
    // SetProperties with {"VexaKeyMap": ay table}; the returned status, or
    // INT32_MIN when the call failed (message in `error`).
    std::int32_t setKeymap(const std::string& path, const std::vector<std::uint8_t>& table, std::string* error);

private:
    sd_bus* bus_ = nullptr;
};

}  // namespace vexa::guest
