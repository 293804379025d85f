#include "editor/driver_presence.h"

#include "driver/bus_names.h"
#include "platform/registry/registry.h"

bool vexa::editor::driverObjectExists() {
    return vexa::registry::matchingServiceExists({vexa::driverbus::kDriverClass, std::nullopt});
}
