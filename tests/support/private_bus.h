// A private dbus-daemon with a system-bus-like policy, for host tests.
// While the object lives, DBUS_SYSTEM_BUS_ADDRESS points at it, so code
// under test that opens "the system bus" (sd_bus_open_system and friends)
// talks to this daemon instead. Made as a session bus, it stands for a
// user's session bus instead (DBUS_SESSION_BUS_ADDRESS), with the same
// policy: any user may connect.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

#include "tests/support/temp_dir.h"

namespace vexa::test {

enum class BusKind { System, Session };

class PrivateSystemBus {
public:
    // Starts the daemon and waits until it accepts connections. `extraConfig`
    // is inserted into the <busconfig> element, for <policy> rules of
    // services under test (for example who may own a name). Throws
    // std::runtime_error when the daemon cannot be started.
    explicit PrivateSystemBus(const std::string& extraConfig = {}, BusKind kind = BusKind::System);
    PrivateSystemBus(const PrivateSystemBus&) = delete;
    PrivateSystemBus& operator=(const PrivateSystemBus&) = delete;
    // Stops the daemon (SIGTERM, then waits for it) and restores the variable.
    ~PrivateSystemBus();

    const std::string& address() const { return address_; }
    pid_t pid() const { return pid_; }

private:
    TempDir dir_;
    std::string address_;
    pid_t pid_ = -1;
    std::unique_ptr<ScopedEnv> env_;
};

}  // namespace vexa::test
