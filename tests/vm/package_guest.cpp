#include "tests/vm/package_guest.h"

#include <sys/wait.h>

#include <cstdio>

namespace vexa::guest::package {

const std::vector<std::string> kServices = {"mirlan.driver.VexaOrla.service", "mirlan.daemon.VexaOrla.service"};

std::string run(const std::string& command, int* status) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        if (status != nullptr) *status = -1;
        return out;
    }
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
    const int r = pclose(pipe);
    if (status != nullptr) *status = WIFEXITED(r) ? WEXITSTATUS(r) : -1;
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

std::string succeeds(const std::string& command) {
    int status = 0;
    const std::string out = run(command + " 2>&1", &status);
    return status == 0 ? "" : "`" + command + "` exited with " + std::to_string(status) + ":\n" + out;
}

std::string maskLogind() { return succeeds("systemctl mask --runtime --quiet systemd-logind.service"); }

std::string install(const std::string& deb) {
    // No network in the guest: every dependency is in the root already.
    return succeeds("DEBIAN_FRONTEND=noninteractive apt-get --yes -q install " + deb);
}

std::string uninstallWithScript() { return succeeds("sh /usr/lib/vexaorla/uninstall.sh"); }

std::string purge() { return succeeds("dpkg --purge vexaorla"); }

std::string servicesAre(const std::string& wanted) {
    std::string wrong;
    for (const std::string& unit : kServices) {
        const std::string state = run("systemctl show -P LoadState " + unit) + "/" +
                                   run("systemctl is-enabled " + unit + " 2>/dev/null") + "/" +
                                   run("systemctl is-active " + unit);
        if (state != wanted) wrong += unit + " is " + state + ", expected " + wanted + "\n";
    }
    return wrong;
}

}  // namespace vexa::guest::package
