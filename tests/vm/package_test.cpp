// The suite's package in a Debian root that the guest boots with systemd:
// installed with apt, its services running and remapping a uhid keyboard,
// then removed and purged, with nothing of it left and the keyboard's own
// keys back. Each step prints one line; the exit status is the failures'.
//   vexa_guest_package_test PACKAGE.deb
#include <linux/input.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "tests/vm/scenario.h"

namespace {

using namespace vexa::guest;
using namespace vexa::guest::step;

// The services the package enables and starts.
const std::vector<std::string> kServices = {"mirlan.driver.VexaOrla.service"};
// A few of the files it installs, one of each kind.
const std::vector<std::string> kPackageFiles = {
    "/usr/lib/vexaorla/VexaOrla", "/usr/lib/vexaorla/VexaOrlaInstaller", "/usr/lib/vexaorla/uninstall.sh",
    "/lib/systemd/system/mirlan.driver.VexaOrla.service", "/usr/share/dbus-1/system.d/mirlan.driver.VexaOrla.conf",
    "/lib/modules-load.d/mirlan.driver.VexaOrla.conf", "/usr/share/polkit-1/actions/mirlan.installer.vexaorla.policy",
    "/usr/share/doc/vexaorla/copyright"};
// A user's keymap file: the package never touches it, not even on purge.
const std::string kUserFile = "/root/Library/Preferences/VexaKeyboard_64bit.prefs";

std::uint32_t kb(std::uint32_t usage) { return 0x70000 | usage; }
std::vector<KeyOut> tapped(std::uint32_t scan, std::uint16_t code) { return {{scan, code, 1}, {scan, code, 0}}; }

// A command's output (trailing newlines dropped) and exit status; its
// standard error goes to the console.
std::string run(const std::string& command, int* status = nullptr) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return out;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
    const int r = pclose(pipe);
    if (status != nullptr) *status = WIFEXITED(r) ? WEXITSTATUS(r) : -1;
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

// "" when the command exits with 0, else its status and output.
std::string succeeds(const std::string& command) {
    int status = 0;
    const std::string out = run(command + " 2>&1", &status);
    return status == 0 ? "" : "`" + command + "` exited with " + std::to_string(status) + ":\n" + out;
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::string unitState(const std::string& unit) {
    return run("systemctl show -P LoadState " + unit) + "/" + run("systemctl is-enabled " + unit + " 2>/dev/null") +
           "/" + run("systemctl is-active " + unit);
}

// Each service's load state, enablement and activity.
std::string servicesAre(const std::string& wanted) {
    std::string wrong;
    for (const std::string& unit : kServices)
        if (const std::string state = unitState(unit); state != wanted)
            wrong += unit + " is " + state + ", expected " + wanted + "\n";
    return wrong;
}

std::string scenarioPasses(const Scenario& scenario, const std::string& unit) {
    return runScenarios({scenario}, unit) == 0 ? "" : "scenario \"" + scenario.name + "\" failed";
}

struct LifeStep {
    std::string what;
    std::function<std::string()> check;  // "" when it held, else what went wrong
};

}  // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s PACKAGE.deb\n", argv[0]);
        return 2;
    }
    const std::string deb = argv[1];
    // No network in the guest: every dependency must already be in the root.
    const std::string apt = "DEBIAN_FRONTEND=noninteractive apt-get --yes -q ";

    const std::vector<LifeStep> steps = {
        {"a user's keymap file is there before the package",
         [] {
             run("mkdir -p \"$(dirname " + kUserFile + ")\" && printf 'saved' > " + kUserFile);
             return exists(kUserFile) ? "" : "cannot write " + kUserFile;
         }},
        {"apt installs the package without a network", [&] { return succeeds(apt + "install " + deb); }},
        {"every program finds its shared libraries",
         [] {
             const std::string missing = run("ldd /usr/lib/vexaorla/* 2>/dev/null | grep 'not found'");
             return missing.empty() ? "" : "missing libraries:\n" + missing;
         }},
        {"the services are enabled and running", [] { return servicesAre("loaded/enabled/active"); }},
        {"polkit knows the installer's action",
         [] { return succeeds("pkaction --action-id mirlan.installer.vexaorla"); }},
        {"the installed driver serves a keyboard plugged in now",
         [] {
             return scenarioPasses({"JIS keyboard with its default table",
                                    {Plug{&kOrlaJIS}, ExpectInstance{0u}, Press{0x35}, Release{0x35},
                                     Expect{tapped(kb(0xE3), KEY_LEFTMETA)}}},
                                   kServices.front());
         }},
        {"the udev reload that the installer runs at quit works through pkexec",
         [] { return succeeds("pkexec /usr/lib/vexaorla/reload-udev"); }},
        {"the installer's uninstall script removes the package",
         [] { return succeeds("sh /usr/lib/vexaorla/uninstall.sh"); }},
        {"the services are gone", [] { return servicesAre("not-found//inactive"); }},
        {"the package's files are gone",
         [] {
             std::string left;
             for (const std::string& f : kPackageFiles)
                 if (exists(f)) left += f + " is still there\n";
             const std::string links = run("find /etc/systemd/system -name 'mirlan.*'");
             return left + (links.empty() ? "" : "links left:\n" + links);
         }},
        {"the keyboard sends its own keys again",
         [] {
             return scenarioPasses({"JIS keyboard without the driver",
                                    {Plug{&kOrlaJIS}, ExpectGrabbed{false}, Press{0x35}, Release{0x35},
                                     ExpectReader{tapped(kb(0x35), KEY_GRAVE)}, ExpectNoInstance{}}},
                                   "");
         }},
        {"dpkg purges the package", [] { return succeeds("dpkg --purge vexaorla"); }},
        {"the user's keymap file is untouched",
         [] {
             std::ifstream in(kUserFile);
             std::string text;
             std::getline(in, text);
             return text == "saved" ? "" : kUserFile + " holds \"" + text + "\"";
         }},
    };

    int passed = 0, failed = 0;
    for (const LifeStep& s : steps) {
        const auto start = std::chrono::steady_clock::now();
        const std::string problem = s.check();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        std::printf("%s %s (%.1f s)\n", problem.empty() ? "PASS" : "FAIL", s.what.c_str(), took.count());
        if (!problem.empty()) {
            std::printf("     %s\n", problem.c_str());
            ++failed;
            break;  // every later step builds on this one
        }
        ++passed;
    }
    std::printf("package: %d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
