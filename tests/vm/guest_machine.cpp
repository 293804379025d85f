#include "tests/vm/guest_machine.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace vexa::guest {

namespace {

constexpr char kUinputModule[] = "/lib/vexa/modules/uinput.ko";

bool writeFile(const std::string& path, const std::string& text, std::string* error = nullptr) {
    const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    bool ok = fd >= 0 && write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    const int saved = errno;
    if (fd >= 0) close(fd);
    if (!ok && error) *error = "cannot write \"" + text + "\" to " + path + ": " + std::strerror(saved);
    return ok;
}

std::string firstLine(const std::string& command) {
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[128];
        if (std::fgets(buf, sizeof buf, p)) out = buf;
        pclose(p);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
}

}  // namespace

bool uinputModuleLoaded() { return access("/sys/module/uinput", F_OK) == 0; }

bool setUinputModuleLoaded(bool loaded, std::string* error) {
    if (loaded == uinputModuleLoaded()) return true;
    long r;
    if (loaded) {
        const int fd = open(kUinputModule, O_RDONLY | O_CLOEXEC);
        r = fd < 0 ? -1 : syscall(SYS_finit_module, fd, "", 0);
        if (fd >= 0) close(fd);
    } else {
        r = syscall(SYS_delete_module, "uinput", O_NONBLOCK);
    }
    if (r != 0) *error = std::string(loaded ? "cannot load " : "cannot unload ") + "uinput: " + std::strerror(errno);
    return r == 0;
}

bool suspendAndResume(std::string* error) {
    if (!writeFile("/sys/power/pm_test", "devices", error)) return false;
    // Without this the test level holds the suspended state for 5 s.
    writeFile("/sys/module/suspend/parameters/pm_test_delay", "0");
    const bool ok = writeFile("/sys/power/state", "freeze", error);
    writeFile("/sys/power/pm_test", "none");
    return ok;
}

bool triggerChange(const std::string& devnode) {
    const std::string sysname = devnode.substr(devnode.rfind('/') + 1);
    return writeFile("/sys/class/input/" + sysname + "/uevent", "change");
}

pid_t systemBusPid(bool underSystemd) {
    if (underSystemd) return std::atoi(firstLine("systemctl show -P MainPID dbus.service").c_str());
    std::ifstream f("/run/dbus/pid");
    pid_t pid = 0;
    f >> pid;
    return pid;
}

bool startSystemBus() {
    unlink("/run/dbus/pid");
    return std::system("dbus-daemon --system --fork") == 0;
}

std::vector<std::string> openDescriptors(pid_t pid) {
    const std::string dirPath = "/proc/" + std::to_string(pid) + "/fd";
    std::vector<std::string> targets;
    DIR* dir = opendir(dirPath.c_str());
    if (!dir) return targets;
    while (dirent* e = readdir(dir)) {
        if (e->d_name[0] == '.') continue;
        char target[256];
        const ssize_t n = readlink((dirPath + "/" + e->d_name).c_str(), target, sizeof target - 1);
        targets.emplace_back(target, n > 0 ? static_cast<std::size_t>(n) : 0);
    }
    closedir(dir);
    std::sort(targets.begin(), targets.end());
    return targets;
}

}  // namespace vexa::guest
