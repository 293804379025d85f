#include "platform/user/user.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct PasswdEntry {
    std::string name;
    std::string home;
};

// getpwnam_r / getpwuid_r with a buffer that grows until the entry fits.
template <class Lookup>
std::optional<PasswdEntry> lookup(Lookup call) {
    long hint = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buf(hint > 0 ? static_cast<std::size_t>(hint) : 1024);
    for (;;) {
        passwd pw{};
        passwd* found = nullptr;
        const int r = call(&pw, buf.data(), buf.size(), &found);
        if (r == ERANGE && buf.size() < (1u << 20)) {
            buf.resize(buf.size() * 2);
            continue;
        }
        if (r != 0 || found == nullptr) return std::nullopt;
        return PasswdEntry{pw.pw_name != nullptr ? pw.pw_name : "", pw.pw_dir != nullptr ? pw.pw_dir : ""};
    }
}

std::optional<PasswdEntry> currentUser() {
    const uid_t uid = ::getuid();
    return lookup([uid](passwd* pw, char* buf, std::size_t len, passwd** out) {
        return ::getpwuid_r(uid, pw, buf, len, out);
    });
}

}  // namespace

std::optional<std::string> vexa::user::homeDirectoryForUser(const char* userName) {
    const auto self = currentUser();
    const bool isSelf = userName == nullptr || (self && self->name == userName);
    if (isSelf) {
        const char* home = std::getenv("HOME");
        if (home != nullptr && *home != '\0') return std::string(home);
    }
    std::optional<PasswdEntry> entry;
    if (userName == nullptr) {
        entry = self;
    } else if (*userName != '\0') {
        entry = lookup([userName](passwd* pw, char* buf, std::size_t len, passwd** out) {
            return ::getpwnam_r(userName, pw, buf, len, out);
        });
    }
    if (!entry || entry->home.empty()) return std::nullopt;
    return entry->home;
}

std::string vexa::user::userName() {
    const auto self = currentUser();
    return self ? self->name : std::string();
}
