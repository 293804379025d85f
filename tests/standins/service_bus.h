// The connection of a stand-in service: its own, on the thread's default
// sd-event loop, owning the service's name. Throws when that cannot be.
#pragma once

#include <stdexcept>
#include <string>

#include "platform/glue/bus.h"
#include "platform/glue/owners.h"

namespace vexa::test {

enum class ServiceBus { System, Session };

inline BusPtr connectService(ServiceBus which) {
    sd_bus* raw = nullptr;
    const int r = which == ServiceBus::System ? sd_bus_open_system(&raw) : sd_bus_open_user(&raw);
    BusPtr bus(raw);
    if (r < 0 || attachToDefaultLoop(bus.get()) < 0) throw std::runtime_error("stand-in: no bus to connect to");
    return bus;
}

inline BusSlotPtr publishObject(sd_bus* bus, const std::string& path, const char* interface, const sd_bus_vtable* vtable,
                                void* userdata) {
    sd_bus_slot* slot = nullptr;
    if (sd_bus_add_object_vtable(bus, &slot, path.c_str(), interface, vtable, userdata) < 0)
        throw std::runtime_error("stand-in: cannot publish " + path);
    return BusSlotPtr(slot);
}

inline void takeName(sd_bus* bus, const char* name) {
    if (sd_bus_request_name(bus, name, 0) < 0) throw std::runtime_error(std::string("stand-in: cannot own ") + name);
}

}  // namespace vexa::test
