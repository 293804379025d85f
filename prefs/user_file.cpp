#include "prefs/user_file.h"

#include <unistd.h>

#include <cerrno>

#include "platform/files/file_io.h"
#include "platform/glue/log.h"
#include "platform/user/user.h"

ErrorCode vexa::prefs::readUserFile(const char* userName, const std::string& path, std::vector<std::uint8_t>& out) {
    out.clear();
    // The daemon runs as root and reads the console user's files: as root it
    // could read any file a user's link points at, so it reads as the user.
    if (::geteuid() == 0 && userName != nullptr) {
        const auto account = user::accountNamed(userName);
        if (!account) return -ENOENT;
        if (account->uid != 0) {
            const user::FileSystemIdentity asUser(*account);
            if (asUser.status() != 0) {
                return logErrno(asUser.status(), SD_ERR "%s: cannot read it as user %s", path.c_str(), userName);
            }
            return files::readRegularFileFollowingLinks(path, out);
        }
    }
    return files::readRegularFileFollowingLinks(path, out);
}
