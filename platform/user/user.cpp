#include "platform/user/user.h"

#include <grp.h>
#include <pwd.h>
#include <sys/fsuid.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/glue/log.h"

namespace {

using PasswdEntry = vexa::user::Account;

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
        return PasswdEntry{pw.pw_name != nullptr ? pw.pw_name : "", pw.pw_dir != nullptr ? pw.pw_dir : "", pw.pw_uid,
                           pw.pw_gid};
    }
}

std::optional<PasswdEntry> currentUser() {
    const uid_t uid = ::getuid();
    return lookup([uid](passwd* pw, char* buf, std::size_t len, passwd** out) {
        return ::getpwuid_r(uid, pw, buf, len, out);
    });
}

}  // namespace

std::optional<vexa::user::Account> vexa::user::accountNamed(const char* userName) {
    if (userName == nullptr) return currentUser();
    if (*userName == '\0') return std::nullopt;
    return lookup([userName](passwd* pw, char* buf, std::size_t len, passwd** out) {
        return ::getpwnam_r(userName, pw, buf, len, out);
    });
}

std::optional<std::string> vexa::user::homeDirectoryForUser(const char* userName) {
    const auto self = currentUser();
    const bool isSelf = userName == nullptr || (self && self->name == userName);
    if (isSelf) {
        const char* home = std::getenv("HOME");
        if (home != nullptr && *home != '\0') return std::string(home);
    }
    const auto entry = isSelf ? self : accountNamed(userName);
    if (!entry || entry->home.empty()) return std::nullopt;
    return entry->home;
}

std::string vexa::user::userName() {
    const auto self = currentUser();
    return self ? self->name : std::string();
}

namespace {

// The user's groups from the group database, its own gid first.
std::vector<gid_t> groupsOf(const vexa::user::Account& account) {
    std::vector<gid_t> groups(16);
    for (;;) {
        int n = static_cast<int>(groups.size());
        if (::getgrouplist(account.name.c_str(), account.gid, groups.data(), &n) >= 0) {
            groups.resize(static_cast<std::size_t>(n));
            return groups;
        }
        if (n <= static_cast<int>(groups.size()) || n > 65536) return {account.gid};
        groups.resize(static_cast<std::size_t>(n));
    }
}

std::vector<gid_t> currentGroups() {
    const int n = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(n > 0 ? static_cast<std::size_t>(n) : 0);
    if (n > 0 && ::getgroups(n, groups.data()) != n) groups.clear();
    return groups;
}

// setfsuid and setfsgid report no error; asking with an invalid id (-1)
// returns the id in force without changing it.
bool fsuidIs(uid_t uid) { return static_cast<uid_t>(::setfsuid(static_cast<uid_t>(-1))) == uid; }
bool fsgidIs(gid_t gid) { return static_cast<gid_t>(::setfsgid(static_cast<gid_t>(-1))) == gid; }

}  // namespace

vexa::user::FileSystemIdentity::FileSystemIdentity(const Account& account)
    : uid_(static_cast<uid_t>(::setfsuid(static_cast<uid_t>(-1)))),
      gid_(static_cast<gid_t>(::setfsgid(static_cast<gid_t>(-1)))),
      groups_(currentGroups()) {
    const std::vector<gid_t> groups = groupsOf(account);
    if (::setgroups(groups.size(), groups.data()) != 0) {
        status_ = -errno;
        return;
    }
    ::setfsgid(account.gid);
    if (fsgidIs(account.gid)) ::setfsuid(account.uid);
    if (!fsgidIs(account.gid) || !fsuidIs(account.uid)) {
        // Without CAP_SETUID or CAP_SETGID the kernel ignores the change.
        status_ = -EPERM;
        ::setfsgid(gid_);
        ::setgroups(groups_.size(), groups_.data());
    }
}

vexa::user::FileSystemIdentity::~FileSystemIdentity() {
    if (status_ != 0) return;
    ::setfsuid(uid_);
    ::setfsgid(gid_);
    const bool groupsBack = ::setgroups(groups_.size(), groups_.data()) == 0;
    if (!groupsBack || !fsuidIs(uid_) || !fsgidIs(gid_)) {
        logLine(SD_CRIT "cannot take back the process's own file-system identity after reading as another user");
        std::abort();
    }
}
