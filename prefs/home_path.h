// A path under the named user's home directory (module-internal).
#pragma once

#include <optional>
#include <string>

#include "platform/user/user.h"

namespace vexa::prefs {

// home + "/" + relative; none when the user has no home directory.
inline std::optional<std::string> pathInHome(const char* userName, const char* relative) {
    auto home = user::homeDirectoryForUser(userName);
    if (!home) return std::nullopt;
    while (home->size() > 1 && home->back() == '/') home->pop_back();
    if (home->back() != '/') *home += '/';
    return *home + relative;
}

}  // namespace vexa::prefs
