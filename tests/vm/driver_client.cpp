#include "tests/vm/driver_client.h"

#include <signal.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "driver/bus_names.h"

namespace vexa::guest {

namespace {

bool waitUntil(int timeoutMs, const auto& condition) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

}  // namespace

DriverProcess::~DriverProcess() {
    if (pid_ > 0) stop();
}

namespace {

// Runs a command; its standard output, and its exit status in `status`.
std::string runCommand(const std::string& command, int* status) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p) {
        *status = -1;
        return out;
    }
    char buf[256];
    while (std::fgets(buf, sizeof buf, p)) out += buf;
    const int r = pclose(p);
    *status = WIFEXITED(r) ? WEXITSTATUS(r) : -1;
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

std::string unitProperty(const std::string& unit, const char* property) {
    int status = 0;
    return runCommand("systemctl show -P " + std::string(property) + " " + unit, &status);
}

}  // namespace

bool DriverProcess::startUnit(int timeoutMs) {
    int status = 0;
    // Scenarios start the unit more often than its start limit allows a
    // crashing service to; these starts are no crash loop.
    runCommand("systemctl reset-failed " + unit_, &status);
    runCommand("systemctl start " + unit_, &status);
    if (status != 0) {
        std::fprintf(stderr, "systemctl start %s: status %d\n%s\n", unit_.c_str(), status,
                     runCommand("systemctl status --no-pager -l -n 20 " + unit_ + " 2>&1", &status).c_str());
        return false;
    }
    pid_ = std::atoi(unitProperty(unit_, "MainPID").c_str());
    // systemctl returns once the unit is up; the driver's (Type=dbus) must
    // also be seen owning its name, the daemon's (Type=notify, no name) not.
    if (unitProperty(unit_, "Type") != "dbus") return pid_ > 0;
    DriverBus bus;
    return pid_ > 0 && waitUntil(timeoutMs, [&] { return bus.nameHasOwner(); });
}

// 0 when the unit's process exited with status 0 and systemd saw no failure.
int DriverProcess::stopUnit() {
    int status = 0;
    runCommand("systemctl stop " + unit_, &status);
    pid_ = -1;
    if (status != 0) return -1;
    const std::string result = unitProperty(unit_, "Result");
    const std::string code = unitProperty(unit_, "ExecMainCode");  // 1 = exited
    const int exitStatus = std::atoi(unitProperty(unit_, "ExecMainStatus").c_str());
    if (result != "success" || code != "1") {
        std::fprintf(stderr, "%s: Result=%s ExecMainCode=%s ExecMainStatus=%d\n", unit_.c_str(), result.c_str(),
                     code.c_str(), exitStatus);
        return exitStatus != 0 ? exitStatus : -1;
    }
    return exitStatus;
}

int DriverProcess::waitExit(int timeoutMs, const std::function<void()>& idle) {
    if (pid_ <= 0 || !unit_.empty()) return -1;
    int status = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (waitpid(pid_, &status, WNOHANG) != pid_) {
        if (std::chrono::steady_clock::now() >= end) return -1;
        if (idle) idle();
        else std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool DriverProcess::waitRestarted(int timeoutMs) {
    if (unit_.empty()) return false;
    const pid_t old = pid_;
    const bool restarted = waitUntil(timeoutMs, [&] {
        const pid_t now = std::atoi(unitProperty(unit_, "MainPID").c_str());
        if (now <= 0 || now == old) return false;
        pid_ = now;
        DriverBus bus;
        return bus.nameHasOwner();
    });
    return restarted;
}

int DriverProcess::restarts() const { return std::atoi(unitProperty(unit_, "NRestarts").c_str()); }

bool DriverProcess::start(int timeoutMs) {
    if (!unit_.empty()) return startUnit(timeoutMs);
    pid_ = fork();
    if (pid_ == 0) {
        execl("/usr/local/bin/VexaOrla", "VexaOrla", static_cast<char*>(nullptr));
        std::perror("exec VexaOrla");
        _exit(127);
    }
    if (pid_ < 0) return false;
    DriverBus bus;
    return waitUntil(timeoutMs, [&] {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return true;  // exited: reported below
        }
        return bus.nameHasOwner();
    }) && pid_ > 0;
}

int DriverProcess::stop(int timeoutMs) {
    if (pid_ <= 0) return -1;
    if (!unit_.empty()) return stopUnit();
    kill(pid_, SIGTERM);
    int status = 0;
    const bool exited = waitUntil(timeoutMs, [&] { return waitpid(pid_, &status, WNOHANG) == pid_; });
    if (!exited) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return -1;
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

DriverBus::DriverBus() { connect(); }

DriverBus::~DriverBus() { disconnect(); }

void DriverBus::reconnect() {
    disconnect();
    connect();
}

void DriverBus::disconnect() {
    match_ = sd_bus_slot_unref(match_);
    bus_ = sd_bus_flush_close_unref(bus_);
}

void DriverBus::connect() {
    if (sd_bus_open_system(&bus_) < 0) {
        bus_ = nullptr;
        return;
    }
    sd_bus_match_signal(
        bus_, &match_, nullptr, driverbus::kManagerPath, "org.freedesktop.DBus.ObjectManager", nullptr,
        [](sd_bus_message* m, void* self, sd_bus_error*) {
            static_cast<DriverBus*>(self)->handleManagerSignal(m);
            return 0;
        },
        this);
}

void DriverBus::handleManagerSignal(sd_bus_message* m) {
    const std::string member = sd_bus_message_get_member(m) ? sd_bus_message_get_member(m) : "";
    const char* path = nullptr;
    if (sd_bus_message_read(m, "o", &path) < 0) return;
    bool ours = false;
    const char* iface = nullptr;
    if (member == "InterfacesAdded") {
        if (sd_bus_message_enter_container(m, 'a', "{sa{sv}}") < 0) return;
        while (sd_bus_message_enter_container(m, 'e', "sa{sv}") > 0) {
            if (sd_bus_message_read(m, "s", &iface) < 0) return;
            ours |= std::strcmp(iface, driverbus::kInterface) == 0;
            sd_bus_message_skip(m, "a{sv}");
            sd_bus_message_exit_container(m);
        }
    } else if (member == "InterfacesRemoved") {
        if (sd_bus_message_enter_container(m, 'a', "s") < 0) return;
        while (sd_bus_message_read(m, "s", &iface) > 0) ours |= std::strcmp(iface, driverbus::kInterface) == 0;
    }
    if (ours) signals_.push_back({member, path});
}

const std::vector<ManagerSignal>& DriverBus::managerSignals() {
    if (bus_) {
        while (sd_bus_process(bus_, nullptr) > 0) {
        }
    }
    return signals_;
}

std::string DriverBus::waitForAdded(std::size_t from, int timeoutMs, const std::function<void()>& idle) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto& got = managerSignals();
        for (std::size_t i = from; i < got.size(); ++i) {
            if (got[i].member == "InterfacesAdded") return got[i].path;
        }
        if (!bus_ || std::chrono::steady_clock::now() >= end) return "";
        sd_bus_wait(bus_, 10000);
        if (idle) idle();
    }
}

std::string DriverBus::getClass(const std::string& path, std::string* error) {
    if (!bus_) return "";
    sd_bus_error err = SD_BUS_ERROR_NULL;
    char* value = nullptr;
    const int r = sd_bus_get_property_string(bus_, driverbus::kBusName, path.c_str(), driverbus::kInterface,
                                             driverbus::kClassProperty, &err, &value);
    std::string out;
    if (r >= 0 && value) out = value;
    if (r < 0 && error) *error = err.name ? err.name : std::strerror(-r);
    free(value);
    sd_bus_error_free(&err);
    return out;
}

bool DriverBus::nameHasOwner() {
    if (!bus_) return false;
    sd_bus_message* reply = nullptr;
    int has = 0;
    if (sd_bus_call_method(bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                           "NameHasOwner", nullptr, &reply, "s", driverbus::kBusName) >= 0)
        sd_bus_message_read(reply, "b", &has);
    sd_bus_message_unref(reply);
    return has != 0;
}

std::vector<InstanceInfo> DriverBus::instances() {
    std::vector<InstanceInfo> out;
    if (!bus_) return out;
    sd_bus_message* m = nullptr;
    if (sd_bus_call_method(bus_, driverbus::kBusName, driverbus::kManagerPath, "org.freedesktop.DBus.ObjectManager",
                           "GetManagedObjects", nullptr, &m, "") < 0)
        return out;
    sd_bus_message_enter_container(m, 'a', "{oa{sa{sv}}}");
    while (sd_bus_message_enter_container(m, 'e', "oa{sa{sv}}") > 0) {
        const char* path = nullptr;
        sd_bus_message_read(m, "o", &path);
        InstanceInfo info;
        info.path = path;
        bool hasInterface = false;
        sd_bus_message_enter_container(m, 'a', "{sa{sv}}");
        while (sd_bus_message_enter_container(m, 'e', "sa{sv}") > 0) {
            const char* iface = nullptr;
            sd_bus_message_read(m, "s", &iface);
            const bool ours = std::strcmp(iface, driverbus::kInterface) == 0;
            hasInterface |= ours;
            sd_bus_message_enter_container(m, 'a', "{sv}");
            while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
                const char* name = nullptr;
                sd_bus_message_read(m, "s", &name);
                const char* type = nullptr;
                sd_bus_message_peek_type(m, nullptr, &type);
                const std::string prop = name;
                if (ours && prop == driverbus::kClassProperty && std::strcmp(type, "s") == 0) {
                    const char* s = nullptr;
                    sd_bus_message_read(m, "v", "s", &s);
                    info.cls = s;
                } else if (ours && prop == driverbus::kVendorIDProperty && std::strcmp(type, "i") == 0) {
                    sd_bus_message_read(m, "v", "i", &info.vendor);
                } else if (ours && prop == driverbus::kProductIDProperty && std::strcmp(type, "i") == 0) {
                    sd_bus_message_read(m, "v", "i", &info.product);
                } else if (ours && prop == driverbus::kLocationIDProperty && std::strcmp(type, "u") == 0) {
                    sd_bus_message_read(m, "v", "u", &info.location);
                } else {
                    sd_bus_message_skip(m, "v");
                }
                sd_bus_message_exit_container(m);
            }
            sd_bus_message_exit_container(m);
            sd_bus_message_exit_container(m);
        }
        sd_bus_message_exit_container(m);
        sd_bus_message_exit_container(m);
        if (hasInterface) out.push_back(info);
    }
    sd_bus_message_unref(m);
    return out;
}

int DriverBus::newKeymapCall(const std::string& path, const std::vector<std::uint8_t>& table, sd_bus_message** m) {
    int r = sd_bus_message_new_method_call(bus_, m, driverbus::kBusName, path.c_str(), driverbus::kInterface,
                                           driverbus::kSetPropertiesMethod);
    if (r >= 0) r = sd_bus_message_open_container(*m, 'a', "{sv}");
    if (r >= 0) r = sd_bus_message_open_container(*m, 'e', "sv");
    if (r >= 0) r = sd_bus_message_append(*m, "s", driverbus::kKeymapProperty);
    if (r >= 0) r = sd_bus_message_open_container(*m, 'v', "ay");
    if (r >= 0) r = sd_bus_message_append_array(*m, 'y', table.data(), table.size());
    if (r >= 0) r = sd_bus_message_close_container(*m);
    if (r >= 0) r = sd_bus_message_close_container(*m);
    if (r >= 0) r = sd_bus_message_close_container(*m);
    return r;
}

std::int32_t DriverBus::setKeymap(const std::string& path, const std::vector<std::uint8_t>& table,
                                  std::string* error) {
    sd_bus_message* m = nullptr;
    sd_bus_message* reply = nullptr;
    sd_bus_error err = SD_BUS_ERROR_NULL;
    std::int32_t status = INT32_MIN;
    int r = newKeymapCall(path, table, &m);
    if (r >= 0) r = sd_bus_call(bus_, m, 0, &err, &reply);
    if (r >= 0) r = sd_bus_message_read(reply, "i", &status);
    if (r < 0 && error) *error = err.name ? err.name : std::strerror(-r);
    if (r < 0) status = INT32_MIN;
    sd_bus_error_free(&err);
    sd_bus_message_unref(m);
    sd_bus_message_unref(reply);
    return status;
}

int DriverBus::onKeymapAnswer(sd_bus_message* m, void* userdata, sd_bus_error*) {
    auto* self = static_cast<DriverBus*>(userdata);
    --self->pendingAnswers_;
    std::int32_t status = INT32_MIN;
    std::string failure;
    if (const sd_bus_error* e = sd_bus_message_get_error(m)) failure = e->name ? e->name : "error";
    else if (sd_bus_message_read(m, "i", &status) < 0) failure = "no status";
    else if (status != 0) failure = "status " + std::to_string(status);
    if (!failure.empty() && self->failedAnswers_++ == 0) self->firstFailure_ = failure;
    return 0;
}

bool DriverBus::sendKeymap(const std::string& path, const std::vector<std::uint8_t>& table) {
    if (!bus_) return false;
    sd_bus_message* m = nullptr;
    int r = newKeymapCall(path, table, &m);
    if (r >= 0) r = sd_bus_call_async(bus_, nullptr, m, onKeymapAnswer, this, 0);
    sd_bus_message_unref(m);
    if (r >= 0) ++pendingAnswers_;
    return r >= 0;
}

bool DriverBus::waitForAnswers(std::size_t pending, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (bus_ && pendingAnswers_ > pending) {
        const int r = sd_bus_process(bus_, nullptr);
        if (r < 0) return false;
        if (r > 0) continue;
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        sd_bus_wait(bus_, static_cast<std::uint64_t>(left.count()));
    }
    return pendingAnswers_ <= pending;
}

}  // namespace vexa::guest
