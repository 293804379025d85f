// Bus helpers shared by the registry's calls and its notification port
// (module-internal).
#pragma once

#include <systemd/sd-bus.h>

#include <string>
#include <vector>

#include "platform/registry/handles.h"

namespace vexa::registry {

// 0 for r >= 0; else the error's errno as a negative number, or r.
int callStatus(int r, const sd_bus_error* error);

// The process's connection for calls; null when the system bus cannot be reached.
sd_bus* mainConnection();

// GetManagedObjects of the driver on `bus`: its instance objects and its
// unique name. A driver that is not running gives none and "" (status 0).
int queryManagedObjects(sd_bus* bus, std::vector<ObjectRecord>* records, std::string* owner);

// Properties.GetAll of the instance interface, for an announcement that
// came without them. 0 or a negative errno.
int fetchProperties(ObjectRecord* record);

}  // namespace vexa::registry
