// The set-up daemon in the guest, for scenario steps (step::Run): a user at
// the console (a passwd entry, a home, a saved preference file, and the
// logind stand-in naming the user), the daemon's systemd unit, and the
// "Reconfigure" notification. Each action returns "" or what went wrong.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tests/vm/driver_client.h"

namespace vexa::guest {

class DaemonGuest {
public:
    DaemonGuest() = default;
    // Stops what is still running: the daemon's unit, the logind stand-in.
    ~DaemonGuest();
    DaemonGuest(const DaemonGuest&) = delete;
    DaemonGuest& operator=(const DaemonGuest&) = delete;

    // Creates the user (home under /home) and makes it the console user.
    std::string consoleUser(const std::string& name, std::uint32_t uid);
    // Saves the user's tables, as the editor run by that user does: the ANSI
    // default with `ansi` changed, and the JIS default.
    std::string save(const std::string& name, const std::vector<std::pair<int, int>>& ansi);
    // systemctl start: returns once the daemon says its watchers are on.
    std::string startDaemon();
    std::string reconfigure();
    // systemctl stop: the daemon must end with status 0.
    std::string stopDaemon();
    // Whether the running daemon's sandbox lets it write `path` (its file
    // system seen through /proc/<pid>/root: read-only mounts refuse).
    std::string expectDaemonMayWrite(const std::string& path, bool expected);

private:
    pid_t logind_ = -1;
    DriverProcess daemon_{"mirlan.daemon.VexaOrla.service"};
};

}  // namespace vexa::guest
