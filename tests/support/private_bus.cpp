#include "tests/support/private_bus.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <stdexcept>

extern char** environ;

namespace {

// The default context of a system bus: nobody owns names or calls methods
// unless a rule says so; signals are broadcast to everyone.
const char* const kConfigHead = R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <deny own="*"/>
    <deny send_type="method_call"/>
    <allow send_type="signal"/>
    <allow send_requested_reply="true" send_type="method_return"/>
    <allow send_requested_reply="true" send_type="error"/>
    <allow receive_type="method_call"/>
    <allow receive_type="method_return"/>
    <allow receive_type="error"/>
    <allow receive_type="signal"/>
    <allow send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus"/>
    <allow send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus.Introspectable"/>
    <allow send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus.Properties"/>
    <allow send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus.Peer"/>
  </policy>
)";

std::string readLine(int fd, int timeoutMs) {
    std::string line;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        const int r = ::poll(&p, 1, timeoutMs);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) throw std::runtime_error("dbus-daemon did not print its address in time");
        char c;
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw std::runtime_error("dbus-daemon exited before printing its address");
        if (c == '\n') return line;
        line += c;
    }
}

}  // namespace

vexa::test::PrivateSystemBus::PrivateSystemBus(const std::string& extraConfig, BusKind kind) {
    const bool system = kind == BusKind::System;
    const std::string config = dir_ / "bus.conf";
    {
        std::ofstream out(config);
        out << kConfigHead << "  <type>" << (system ? "system" : "session") << "</type>\n  <listen>unix:path=" << (dir_ / "system_bus_socket") << "</listen>\n"
            << extraConfig << "\n</busconfig>\n";
        if (!out) throw std::runtime_error("cannot write " + config);
    }

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
    const std::string configArg = "--config-file=" + config;
    const char* argv[] = {"dbus-daemon", configArg.c_str(), "--nofork", "--nopidfile", "--nosyslog",
                          "--print-address=3", nullptr};
    const int r = ::posix_spawnp(&pid_, "dbus-daemon", &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (r != 0) {
        ::close(fds[0]);
        pid_ = -1;
        throw std::runtime_error("cannot start dbus-daemon (is the dbus-daemon package installed?)");
    }
    try {
        address_ = readLine(fds[0], 10000);
    } catch (...) {
        ::close(fds[0]);
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        throw;
    }
    ::close(fds[0]);
    env_ = std::make_unique<ScopedEnv>(system ? "DBUS_SYSTEM_BUS_ADDRESS" : "DBUS_SESSION_BUS_ADDRESS",
                                       address_.c_str());
}

vexa::test::PrivateSystemBus::~PrivateSystemBus() {
    env_.reset();
    if (pid_ > 0) {
        ::kill(pid_, SIGCONT);  // in case a test left it stopped
        ::kill(pid_, SIGTERM);
        while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
}
