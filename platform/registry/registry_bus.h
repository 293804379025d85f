// Bus helpers shared by the registry's calls and its notification port
// (module-internal).
#pragma once

#include <systemd/sd-bus.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/glue/owners.h"
#include "platform/registry/handles.h"

namespace vexa::registry {

// 0 for r >= 0; else the error's errno as a negative number, or r.
int callStatus(int r, const sd_bus_error* error);

// Makes a method call on the connection it is given.
using MessageBuilder = std::function<int(sd_bus*, sd_bus_message**)>;

// Calls and waits (at most kCallTimeoutUsec) on `bus`, or on the process's
// connection when `bus` is null. sd_bus_call's result.
int call(sd_bus* bus, const MessageBuilder& build, sd_bus_error* error, BusMessagePtr* reply);

// GetManagedObjects of the driver on `bus` (null: the process's
// connection): its instance objects and its unique name. A driver that is
// not running gives none and "" (status 0).
int queryManagedObjects(sd_bus* bus, std::vector<ObjectRecord>* records, std::string* owner);

// Properties.GetAll of the instance interface, for an announcement that
// came without them. 0 or a negative errno.
int fetchProperties(ObjectRecord* record);

}  // namespace vexa::registry
