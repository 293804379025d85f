// Users and their home directories, from the passwd database, and opening
// files with another user's file-system identity.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "errors/error_stack.h"

namespace vexa::user {

// A user's entry in the passwd database.
struct Account {
    std::string name;
    std::string home;
    uid_t uid = 0;
    gid_t gid = 0;
};

// The named user's account; a null name means the user running the process
// (its real user id). None when the passwd database has no such user.
std::optional<Account> accountNamed(const char* userName);

// While it lives, the calling thread opens files with the file-system
// identity of `account`: its uid and gid (setfsuid, setfsgid) and its
// supplementary groups from the group database (setgroups). The kernel then
// allows exactly what that user could open, and follows symbolic links with
// that user's rights. The identity before is restored when it goes; a
// process that cannot restore it ends at once rather than go on as the user.
// Needs CAP_SETUID and CAP_SETGID and no other capability. The groups are
// the whole process's, so use it only in a single-threaded process.
class FileSystemIdentity {
public:
    explicit FileSystemIdentity(const Account& account);
    ~FileSystemIdentity();
    FileSystemIdentity(const FileSystemIdentity&) = delete;
    FileSystemIdentity& operator=(const FileSystemIdentity&) = delete;

    // 0 when the identity is taken; otherwise a negative errno, and the
    // process's identity is as it was.
    ErrorCode status() const { return status_; }

private:
    ErrorCode status_ = 0;
    uid_t uid_ = 0;
    gid_t gid_ = 0;
    std::vector<gid_t> groups_;
};

// The home directory of the named user. For the user running the process
// (a null name, or that user's own name) $HOME wins when it is set and not
// empty. None when the passwd database has no such user or no home for it.
std::optional<std::string> homeDirectoryForUser(const char* userName);

// The login name of the user running the process (its real user id); empty
// when the passwd database has no entry for it.
std::string userName();

}  // namespace vexa::user
