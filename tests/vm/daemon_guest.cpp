#include "tests/vm/daemon_guest.h"

#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

#include "keymap/keymap.h"
#include "prefs/prefs.h"
#include "prefs/reconfigure.h"

namespace vexa::guest {

namespace {

bool logindIsThere() {
    sd_bus* bus = nullptr;
    if (sd_bus_open_system(&bus) < 0) return false;
    const bool there = sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                          "GetNameOwner", nullptr, nullptr, "s", "org.freedesktop.login1") >= 0;
    sd_bus_flush_close_unref(bus);
    return there;
}

std::string makeFolder(const std::string& path, std::uint32_t uid) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return "cannot make " + path;
    if (::chown(path.c_str(), uid, uid) != 0) return "cannot give " + path + " to its user";
    return "";
}

}  // namespace

DaemonGuest::~DaemonGuest() {
    if (daemon_.running()) daemon_.stop();
    if (logind_ > 0) {
        ::kill(logind_, SIGTERM);
        ::waitpid(logind_, nullptr, 0);
    }
}

std::string DaemonGuest::consoleUser(const std::string& name, std::uint32_t uid) {
    if (::getpwnam(name.c_str()) == nullptr) {
        const std::string home = "/home/" + name;
        std::ofstream("/etc/passwd", std::ios::app) << name << ":x:" << uid << ":" << uid << "::" << home << ":/bin/sh\n";
        std::ofstream("/etc/group", std::ios::app) << name << ":x:" << uid << ":\n";
        // Private folders, as a user's home is: only the user (and a
        // reader acting as the user) gets through.
        for (const std::string& folder : {home, home + "/Library", home + "/Library/Preferences"}) {
            if (std::string error = makeFolder(folder, uid); !error.empty()) return error;
        }
    }
    logind_ = ::fork();
    if (logind_ == 0) {
        const std::string id = std::to_string(uid);
        ::execl("/usr/local/bin/vexa_logind_standin", "vexa_logind_standin", name.c_str(), id.c_str(), nullptr);
        ::_exit(127);
    }
    for (int i = 0; i < 500 && !logindIsThere(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return logindIsThere() ? "" : "the logind stand-in did not come up";
}

std::string DaemonGuest::save(const std::string& name, const std::vector<std::pair<int, int>>& ansi) {
    const passwd* user = ::getpwnam(name.c_str());
    if (user == nullptr) return "no user " + name;
    const uid_t uid = user->pw_uid;
    const gid_t gid = user->pw_gid;
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(gid) != 0 || ::setuid(uid) != 0) ::_exit(2);
        Keymap table, jis;
        KZ714defaultOrlaANSIKeymap(table);
        KZ714defaultOrlaJISKeymap(jis);
        for (auto [index, value] : ansi) table[index] = static_cast<std::uint8_t>(value);
        vexa::archive::Dictionary root;
        KZ730setKeymapToPrefData(&root, KZ714_TYPE_ANSI, table);
        KZ730setKeymapToPrefData(&root, KZ714_TYPE_JIS, jis);
        if (KZ730writeNewPrefFile(name.c_str(), &root, nullptr) != 0) ::_exit(3);
        // The editor leaves the file readable by its user alone.
        struct stat st {};
        const std::string path = *KZ730prefFilePath(name.c_str());
        ::_exit(::stat(path.c_str(), &st) == 0 && (st.st_mode & 07777) == 0600 ? 0 : 4);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? "" : "saving failed (" + std::to_string(status) + ")";
}

std::string DaemonGuest::startDaemon() { return daemon_.start() ? "" : "the daemon's unit did not start"; }

std::string DaemonGuest::reconfigure() {
    const ErrorCode r = vexa::postSetUpperNotification("Reconfigure");
    return r == 0 ? "" : std::string("not sent: ") + std::strerror(-r);
}

std::string DaemonGuest::stopDaemon() {
    const int status = daemon_.stop();
    return status == 0 ? "" : "the daemon ended with status " + std::to_string(status);
}

std::string DaemonGuest::expectDaemonMayWrite(const std::string& path, bool expected) {
    if (!daemon_.running()) return "the daemon is not running";
    const std::string seen = "/proc/" + std::to_string(daemon_.pid()) + "/root" + path;
    const bool writable = ::access(seen.c_str(), W_OK) == 0;
    if (writable == expected) return "";
    return "the daemon " + std::string(writable ? "may" : "may not") + " write " + path +
           (writable ? "" : std::string(": ") + std::strerror(errno));
}

}  // namespace vexa::guest
