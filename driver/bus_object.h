// One driver instance as an object on the system bus: the read-only
// properties Class, VendorID, ProductID, LocationID and the method
// SetProperties(a{sv}) -> i, which is the instance's setProperties.
#pragma once

#include <cstdint>
#include <string>

#include "driver/mirlan_VexaOrla.h"

struct sd_bus;
struct sd_bus_message;
struct sd_bus_slot;

namespace vexa {

struct BusObjectData {
    mirlan_VexaOrla* driver = nullptr;
    std::uint32_t locationID = 0;
};

// Exports the object at `path`; `data` must outlive the slot. 0 or a
// negative errno.
int addDriverBusObject(sd_bus* bus, const std::string& path, BusObjectData* data, sd_bus_slot** slot);

// Exports the driver's identity (the read-only property Version) on the
// object manager's own object. 0 or a negative errno.
int addDriverManagerObject(sd_bus* bus, sd_bus_slot** slot);

// Reads an a{sv} argument into a property dictionary: "ay" values become
// data, "s" text, "b" truth values, integers numbers; other types are
// kept as values this layer does not carry. 0 or a negative errno.
int readPropertyDictionary(sd_bus_message* message, PropertyDictionary* out);

}  // namespace vexa
