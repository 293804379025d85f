// The installer's platform on Linux: resources beside the program, polkit's
// pkaction/pkcheck/pkexec, /bin/sh, and the XDG autostart folders.
#pragma once

#include "installer/installer_platform.h"

namespace vexa::installer {

// The programs the platform runs; tests point them elsewhere.
struct PlatformPrograms {
    std::string shell = "/bin/sh";
    std::string pkaction = "/usr/bin/pkaction";
    std::string pkcheck = "/usr/bin/pkcheck";
    std::string pkexec = "/usr/bin/pkexec";
};

class LinuxInstallerPlatform : public InstallerPlatform {
public:
    // Resources are looked up in `resourceFolder`; empty means the folder
    // that holds the running program.
    explicit LinuxInstallerPlatform(std::string resourceFolder = "", PlatformPrograms programs = {});

    bool systemVersionAtLeast(int major, int minor) const override;
    std::string pathForResource(const std::string& name, const std::string& extension) const override;
    int runShellCommand(const std::string& commandLine) override;
    int authorizationCreate(std::unique_ptr<Authorization>* out) override;
    int authorizationCopyRights(Authorization& authorization) override;
    int executeWithPrivileges(const Authorization& authorization, const std::string& program,
                              const std::vector<std::string>& arguments) override;
    std::unique_ptr<LoginItemList> openLoginItems() override;
    std::optional<std::string> loadScript(const std::string& path) override;
    int runScript(const std::string& script) override;

    const std::string& resourceFolder() const { return resourceFolder_; }

private:
    std::string resourceFolder_;
    PlatformPrograms programs_;
};

// The start time of a process in clock ticks after boot (field 22 of
// /proc/<pid>/stat), or a negative errno.
long long processStartTime(pid_t pid);

}  // namespace vexa::installer
