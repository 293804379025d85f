// What the installer asks of the system, behind one small interface, so that
// the installer's logic (AppDelegate) runs in tests against a stand-in that
// records the privileged and interactive calls, while LinuxInstallerPlatform
// carries them out with polkit, the shell and the user's autostart folder.
#pragma once

#include <sys/types.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "installer/login_items.h"

namespace vexa::installer {

// An administrator authorization of one process: the process polkit is asked
// about (pid, start time, uid: what pkcheck calls the subject) and the polkit
// action it was granted for (empty until then). Freeing it drops nothing in
// polkit: a kept authorization there simply lapses.
struct Authorization {
    pid_t pid = 0;
    unsigned long long startTime = 0;  // clock ticks after boot, /proc/<pid>/stat
    uid_t uid = 0;
    std::string grantedAction;
};

class InstallerPlatform {
public:
    virtual ~InstallerPlatform() = default;

    // The system is at least major.minor of the platform whose versions the
    // installer's gates name. No Linux system is: false.
    virtual bool systemVersionAtLeast(int major, int minor) const = 0;

    // The full path of the resource "name.extension" among the installer's
    // resources; empty when there is no such file.
    virtual std::string pathForResource(const std::string& name, const std::string& extension) const = 0;

    // Runs a command line through /bin/sh and waits; its wait status.
    virtual int runShellCommand(const std::string& commandLine) = 0;

    // Identifies this process for polkit. 0 or a negative errno.
    virtual int authorizationCreate(std::unique_ptr<Authorization>* out) = 0;
    // Asks polkit, with interaction, whether the process may act as
    // administrator for the installer; this is where the password is asked.
    // 0 when granted (the action is then recorded in `authorization`), else
    // pkcheck's exit status or a negative errno when it cannot be run.
    virtual int authorizationCopyRights(Authorization& authorization) = 0;
    // Runs the program as root through pkexec, as a child of this process so
    // that a kept authorization of this process applies. 0, pkexec's (or the
    // program's) exit status, or a negative errno.
    virtual int executeWithPrivileges(const Authorization& authorization, const std::string& program,
                                      const std::vector<std::string>& arguments) = 0;

    // The current user's login items; null when they cannot be opened.
    virtual std::unique_ptr<LoginItemList> openLoginItems() = 0;

    // Reads a shell script and checks that it parses; nullopt when it
    // cannot be read or does not parse.
    virtual std::optional<std::string> loadScript(const std::string& path) = 0;
    // Runs a loaded script with /bin/sh and waits. 0 on success, else its
    // exit status (128 + signal when killed) or a negative errno.
    virtual int runScript(const std::string& script) = 0;
};

// The subject and action texts polkit needs for an authorization.
inline constexpr const char* kInstallerAction = "mirlan.installer.vexaorla";
// Every polkit system has this action (pkexec's own); it stands in while the
// suite's package, which brings kInstallerAction, is not installed yet.
inline constexpr const char* kRunAsAdministratorAction = "org.freedesktop.policykit.exec";

// Quotes a text for /bin/sh so that it stays one word, whatever it holds.
std::string shellQuoted(const std::string& text);

}  // namespace vexa::installer
