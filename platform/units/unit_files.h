// Where systemd finds the system's unit files: the search path of the
// system manager (the folders it reads, in its order, as systemd-path's
// "systemd-search-system-unit" lists them; SYSTEMD_UNIT_PATH is honoured as
// systemd honours it), and whether a unit is installed there. Plain
// functions, no Qt: the editor asks whether the driver is installed, the
// set-up daemon the same of its peers.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vexa::units {

// The system manager's unit search path, highest priority first; empty when
// libsystemd cannot tell.
std::vector<std::string> systemUnitSearchPath();

// The unit file that systemd would load for `name` (e.g.
// "mirlan.driver.VexaOrla.service"): the first folder of the search path
// that holds an entry of that name decides. None when no folder does, or
// when that entry masks the unit (a link to /dev/null, or an empty file
// named so, as `systemctl mask` leaves it) or is no file at all.
std::optional<std::string> findSystemUnitFile(std::string_view name);

inline bool isSystemUnitInstalled(std::string_view name) { return findSystemUnitFile(name).has_value(); }

}  // namespace vexa::units
