// Reading the object manager's messages into object records: the reply of
// GetManagedObjects and the InterfacesAdded / InterfacesRemoved signals.
// Only objects that carry the driver's instance interface count.
#pragma once

#include <string>
#include <vector>

#include "platform/registry/handles.h"

struct sd_bus_message;

namespace vexa::registry {

// a{oa{sa{sv}}}: every object with the instance interface, in message
// order. `owner` is recorded in each. 0 or a negative errno.
int readManagedObjects(sd_bus_message* reply, const std::string& owner, std::vector<ObjectRecord>* out);

// oa{sa{sv}}: the object, and whether it carries the instance interface.
int readInterfacesAdded(sd_bus_message* signal, const std::string& owner, ObjectRecord* out, bool* isInstance);

// oas: the object path, and whether the instance interface was among those removed.
int readInterfacesRemoved(sd_bus_message* signal, std::string* path, bool* isInstance);

// a{sv} of Properties.GetAll into `properties`. 0 or a negative errno.
int readPropertyMap(sd_bus_message* message, std::map<std::string, PropertyValue>* properties);

}  // namespace vexa::registry
