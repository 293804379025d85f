// A path under the named user's home directory (module-internal).
#pragma once

#include <optional>
#include <string>

#include "platform/user/user.h"

namespace vexa::prefs {

// home + "/" + relative, without doubled slashes.
inline std::string joinHome(std::string home, const char* relative) {
    while (home.size() > 1 && home.back() == '/') home.pop_back();
    if (home.empty() || home.back() != '/') home += '/';
    return home + relative;
}

// The path under the user's home; none when the user has no home directory.
inline std::optional<std::string> pathInHome(const char* userName, const char* relative) {
    auto home = user::homeDirectoryForUser(userName);
    if (!home) return std::nullopt;
    return joinHome(std::move(*home), relative);
}

}  // namespace vexa::prefs
