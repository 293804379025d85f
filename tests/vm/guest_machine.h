// Controls of the guest machine itself that scenarios use: loading and
// unloading uinput's module, a suspend and resume of every device, udev's
// "change" for a node, the system bus daemon, and a process's descriptors.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace vexa::guest {

// Loads or unloads the uinput module, as when it is loaded after the driver
// started. False with a message in `error`.
bool setUinputModuleLoaded(bool loaded, std::string* error);
bool uinputModuleLoaded();

// Suspends every device and resumes it (the kernel's pm_test "devices":
// user space is frozen, devices go through suspend and resume, nothing
// sleeps). The input core releases every held key on the way, without a
// scan code. False with a message in `error`.
bool suspendAndResume(std::string* error);

// Writes "change" to the node's uevent, as udevadm trigger does.
bool triggerChange(const std::string& devnode);

// The system bus daemon's process: the dbus.service unit's main process
// under systemd, otherwise the one guest-init started.
pid_t systemBusPid(bool underSystemd);
// Starts the system bus daemon again after it died (not under systemd).
bool startSystemBus();

// What the open file descriptors of a process refer to ("socket:[123]",
// "/dev/input/event3", "anon_inode:[eventpoll]"), sorted; empty when they
// cannot be read.
std::vector<std::string> openDescriptors(pid_t pid);

}  // namespace vexa::guest
