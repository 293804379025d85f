// The suite's package in the guest's Debian root, for the package test and
// the demonstration: installed with apt from its file (no network), removed
// by the installer's own uninstall script, its services' state, and the
// user at the console played by the logind stand-in. Each action returns ""
// or what went wrong.
#pragma once

#include <string>
#include <vector>

namespace vexa::guest::package {

// The services the package enables and starts.
extern const std::vector<std::string> kServices;

// A command's output (trailing newlines dropped) and exit status; its
// standard error goes to the console.
std::string run(const std::string& command, int* status = nullptr);
// "" when the command exits with 0, else its status and output.
std::string succeeds(const std::string& command);

// systemd must not start the real logind (the set-up daemon's unit wants
// it): the stand-in owns logind's bus name instead.
std::string maskLogind();
// apt-get install of the package file.
std::string install(const std::string& deb);
// The installer's uninstall script, as the installer runs it.
std::string uninstallWithScript();
std::string purge();

// Each service's "LoadState/enablement/activity" must be `wanted`
// ("loaded/enabled/active", "not-found//inactive").
std::string servicesAre(const std::string& wanted);

}  // namespace vexa::guest::package
