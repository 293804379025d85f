// The set-up daemon as a child process, for tests and benchmarks: started
// under a parent named like the service manager (this process, renamed
// while the object lives) or under another launcher (a shell of that name),
// with an environment of the caller's choice. Its standard error, its
// readiness (sd_notify's READY=1 on a socket of our own) and its end are
// taken in by poll(), and wake the thread's default sd-event loop.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/glue/owners.h"

namespace vexa::test {

class DaemonProcess {
public:
    // `folder`: a private folder for the notification socket and launchers.
    DaemonProcess(std::string program, std::string folder);
    // Kills the daemon if it still runs, and takes this process's name back.
    ~DaemonProcess();
    DaemonProcess(const DaemonProcess&) = delete;
    DaemonProcess& operator=(const DaemonProcess&) = delete;

    // `environment`: the daemon's whole environment (NOTIFY_SOCKET is added).
    void start(std::vector<std::string> environment, const std::string& launcher = "systemd");
    void terminate();
    // Reads what arrived; call it from the predicate of the loop's runs.
    void poll();

    pid_t pid() const { return pid_; }
    bool ready() const { return ready_; }
    const std::optional<int>& exitStatus() const { return exited_; }
    const std::string& log() const { return log_; }

private:
    void watch(int fd, EventSourcePtr* source);

    std::string program_, folder_;
    char ownName_[17] = {};
    Fd notify_, stderr_, pidfd_;
    EventSourcePtr notifySource_, stderrSource_, exitSource_;
    pid_t pid_ = -1;
    bool ready_ = false;
    std::optional<int> exited_;
    std::string log_;
};

// This process's environment without the named variables.
std::vector<std::string> environmentWithout(const std::vector<std::string>& names);

}  // namespace vexa::test
