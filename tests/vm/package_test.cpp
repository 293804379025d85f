// The suite's package in a Debian root that the guest boots with systemd:
// installed with apt, both services running; a user's saved tables reach a
// uhid keyboard through the installed daemon and driver, follow her next
// save and "Reconfigure" and a re-plug; the installed editor starts beside
// them; then the installer's uninstall script removes the package, both
// services are gone and the keyboard sends its own keys; purge leaves the
// user's file. Each step prints one line; the exit status is the failures'.
//   vexa_guest_package_test PACKAGE.deb
#include <fcntl.h>
#include <linux/input.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/vm/daemon_guest.h"
#include "tests/vm/guest_machine.h"
#include "tests/vm/package_guest.h"
#include "tests/vm/scenario.h"

namespace {

using namespace vexa::guest;
using namespace vexa::guest::step;
using namespace vexa::guest::package;

// A few of the files the package installs, one of each kind.
const std::vector<std::string> kPackageFiles = {
    "/usr/lib/vexaorla/VexaOrla", "/usr/lib/vexaorla/VexaOrlaSetUpper", "/usr/bin/KeymapEditor",
    "/usr/lib/vexaorla/VexaOrlaInstaller", "/usr/lib/vexaorla/uninstall.sh", "/usr/share/vexaorla/License.rtf",
    "/lib/systemd/system/mirlan.driver.VexaOrla.service", "/lib/systemd/system/mirlan.daemon.VexaOrla.service",
    "/usr/share/dbus-1/system.d/mirlan.driver.VexaOrla.conf", "/lib/modules-load.d/mirlan.driver.VexaOrla.conf",
    "/lib/udev/rules.d/70-mirlan-vexa-orla.rules", "/usr/share/polkit-1/actions/mirlan.installer.vexaorla.policy",
    "/usr/share/applications/mirlan.editor.KeymapEditor.desktop", "/usr/share/doc/vexaorla/copyright"};
// The user at the console and her keymap file, which the package never
// touches, not even on purge.
const std::string kUser = "alice";
constexpr std::uint32_t kUid = 1000;
const std::string kUserFile = "/home/alice/Library/Preferences/VexaKeyboard_64bit.prefs";

std::uint32_t kb(std::uint32_t usage) { return 0x70000 | usage; }
std::vector<KeyOut> tapped(std::uint32_t scan, std::uint16_t code) { return {{scan, code, 1}, {scan, code, 0}}; }

std::string scenarioPasses(const Scenario& scenario, const std::string& unit) {
    return runScenarios({scenario}, unit) == 0 ? "" : "scenario \"" + scenario.name + "\" failed";
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// The file's permission bits and owner, as "0600 1000".
std::string modeAndOwner(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return "missing";
    char text[32];
    std::snprintf(text, sizeof text, "%04o %u", st.st_mode & 07777, static_cast<unsigned>(st.st_uid));
    return text;
}

bool waitUntil(int timeoutMs, const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

// The installed editor, started as from its desktop entry (offscreen: the
// guest has no display), while a keyboard is attached. Its start-up checks
// look for the driver's unit file and the set-up daemon's process, which
// the package provides; only once they pass does it watch the keyboards and
// open the attached one's hidraw node. It must still run after its check
// that a driver instance serves that keyboard (2 s), and end with status 0
// when the session ends it (SIGTERM).
std::string installedEditorRuns() {
    const std::string log = "/tmp/KeymapEditor.log";
    const pid_t editor = ::fork();
    if (editor == 0) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(out, STDERR_FILENO);
        ::execl("/usr/bin/KeymapEditor", "KeymapEditor", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    if (editor < 0) return "cannot start the editor";
    int status = 0;
    bool ended = false;
    const auto alive = [&] {
        if (!ended && ::waitpid(editor, &status, WNOHANG) == editor) ended = true;
        return !ended;
    };
    const auto watchesKeyboard = [&] {
        const std::vector<std::string> fds = openDescriptors(editor);
        return std::any_of(fds.begin(), fds.end(), [](const std::string& f) { return f.rfind("/dev/hidraw", 0) == 0; });
    };
    std::string problem;
    if (!waitUntil(60000, [&] { return !alive() || watchesKeyboard(); }) || !alive())
        problem = "the editor did not open the keyboard";
    else if (std::this_thread::sleep_for(std::chrono::milliseconds(3000)); !alive())
        problem = "the editor ended after its driver check";
    if (!ended) {
        ::kill(editor, SIGTERM);
        if (!waitUntil(10000, [&] { return !alive(); })) {
            ::kill(editor, SIGKILL);
            ::waitpid(editor, &status, 0);
            if (problem.empty()) problem = "the editor did not end on SIGTERM";
        }
    }
    if (problem.empty() && !(WIFEXITED(status) && WEXITSTATUS(status) == 0))
        problem = "the editor ended with wait status " + std::to_string(status);
    return problem.empty() ? "" : problem + "; its output:\n" + readFile(log);
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
    auto console = std::make_shared<DaemonGuest>();
    std::string savedFile;
    const auto save = [console](std::vector<std::pair<int, int>> ansi, bool reconfigure) {
        return Run{"alice saves her tables" + std::string(reconfigure ? " and sends Reconfigure" : ""),
                   [console, ansi, reconfigure] {
                       std::string e = console->save(kUser, ansi);
                       return e.empty() && reconfigure ? console->reconfigure() : e;
                   }};
    };

    const std::vector<LifeStep> steps = {
        {"alice is at the console, her tables saved in her home (A sends Escape)",
         [&] {
             std::string e = maskLogind();
             if (e.empty()) e = console->consoleUser(kUser, kUid);
             if (e.empty()) e = console->save(kUser, {{0x04, 0x29}});
             if (!e.empty()) return e;
             const std::string home = modeAndOwner("/home/alice"), file = modeAndOwner(kUserFile);
             return home == "0700 1000" && file == "0600 1000" ? ""
                                                               : "home is " + home + ", her file " + file;
         }},
        {"apt installs the package without a network", [&] { return install(deb); }},
        {"every program finds its shared libraries",
         [] {
             const std::string missing =
                 run("ldd /usr/lib/vexaorla/VexaOrla* /usr/bin/KeymapEditor 2>&1 | grep 'not found'");
             return missing.empty() ? "" : "missing libraries:\n" + missing;
         }},
        {"both services are enabled and running", [] { return servicesAre("loaded/enabled/active"); }},
        {"polkit knows the installer's action",
         [] { return succeeds("pkaction --action-id mirlan.installer.vexaorla"); }},
        {"the installed daemon puts alice's table on a keyboard, then her next, and again after a re-plug",
         [&] {
             return scenarioPasses(
                 {"alice's tables on an ANSI keyboard",
                  {Plug{&kOrlaANSI}, ExpectInstance{0u}, ExpectSoon{{0x04}, tapped(kb(0x29), KEY_ESC)},
                   save({{0x04, 0x05}}, true), ExpectSoon{{0x04}, tapped(kb(0x05), KEY_B)}, Unplug{},
                   ExpectNoInstance{}, Plug{&kOrlaANSI}, ExpectInstance{0u, true},
                   ExpectSoon{{0x04}, tapped(kb(0x05), KEY_B)}}},
                 kServices.front());
         }},
        {"the installed editor starts, finds the suite in place and watches the keyboard",
         [] {
             return scenarioPasses({"the editor beside a keyboard",
                                    {Plug{&kOrlaJIS}, ExpectInstance{0u},
                                     Run{"the installed editor runs", installedEditorRuns}}},
                                   kServices.front());
         }},
        {"the editor's licence document is where the editor looks for it",
         [] {
             // Beside /usr/bin/KeymapEditor: <prefix>/share/vexaorla.
             const std::string text = readFile("/usr/share/vexaorla/License.rtf");
             return text.rfind("{\\rtf1", 0) == 0 ? "" : "/usr/share/vexaorla/License.rtf is no RTF document";
         }},
        {"the udev reload that the installer runs at quit works through pkexec",
         [] { return succeeds("pkexec /usr/lib/vexaorla/reload-udev"); }},
        {"the installer's uninstall script removes the package",
         [&] {
             savedFile = readFile(kUserFile);  // her last save
             return uninstallWithScript();
         }},
        {"both services are gone", [] { return servicesAre("not-found//inactive"); }},
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
             return scenarioPasses({"ANSI keyboard without the suite",
                                    {Plug{&kOrlaANSI}, ExpectGrabbed{false}, Press{0x04}, Release{0x04},
                                     ExpectReader{tapped(kb(0x04), KEY_A)}, ExpectNoInstance{}}},
                                   "");
         }},
        {"dpkg purges the package", [] { return purge(); }},
        {"alice's keymap file is untouched",
         [&] {
             if (readFile(kUserFile) != savedFile) return kUserFile + " changed";
             const std::string file = modeAndOwner(kUserFile);
             return file == "0600 1000" ? "" : kUserFile + " is now " + file;
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
