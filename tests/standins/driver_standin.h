// A stand-in for the VexaOrla driver service on the system bus, for tests
// and benchmarks of its clients: it owns the driver's bus name, publishes
// instance objects with the driver's exact interface (driver/bus_names.h)
// below the object manager, and records every SetProperties call. An
// instance can be told to answer with a failing status or a bus error, and
// the listing of all instances can be made to fail.
// Runs on the thread's default sd-event loop.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/glue/owners.h"

namespace vexa::test {

struct StandinObject;

class DriverStandin {
public:
    struct Instance {
        std::string name;  // the object path's last part
        std::int32_t vendor = 0;
        std::int32_t product = 0;
        std::uint32_t location = 0;
        std::string className = "mirlan_VexaOrla";
        std::int32_t status = 0;  // what SetProperties answers
        std::string busError;     // when set, SetProperties fails with this D-Bus error instead
    };
    struct Call {
        std::string path;
        std::vector<std::uint8_t> table;  // the "VexaKeyMap" bytes
        std::uint64_t monotonicUsec = 0;
    };

    // Connects and takes the driver's name, as the driver does.
    DriverStandin();
    ~DriverStandin();
    DriverStandin(const DriverStandin&) = delete;
    DriverStandin& operator=(const DriverStandin&) = delete;

    // Publishes an instance (InterfacesAdded); its object path.
    std::string publish(const Instance& instance);
    // Removes it (InterfacesRemoved).
    void unpublish(const std::string& path);
    void setAnswer(const std::string& path, std::int32_t status, const std::string& busError = "");
    // The driver stops (its connection closes) and starts again on a new
    // connection with the same instances, publishing them before it takes
    // the name again, as the driver does.
    void restart();
    // The driver stops for good (until restart).
    void stop();

    static std::string pathOf(const std::string& name);

    std::vector<Call> calls;
    std::function<void(const Call&)> onCall;
    // When set, GetManagedObjects fails with this D-Bus error (a driver
    // that runs but cannot list its instances).
    std::string listingError;

private:
    void connect();
    void addObject(StandinObject& object);

    BusPtr bus_;
    BusSlotPtr manager_, listingFilter_;
    std::map<std::string, std::unique_ptr<StandinObject>> objects_;  // by path
};

}  // namespace vexa::test
