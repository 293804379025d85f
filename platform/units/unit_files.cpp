#include "platform/units/unit_files.h"

#include <sys/stat.h>
#include <systemd/sd-path.h>

#include <cerrno>
#include <cstdlib>

namespace vexa::units {

std::vector<std::string> systemUnitSearchPath() {
    char** list = nullptr;
    std::vector<std::string> folders;
    if (sd_path_lookup_strv(SD_PATH_SYSTEMD_SEARCH_SYSTEM_UNIT, nullptr, &list) < 0 || list == nullptr) return folders;
    for (char** entry = list; *entry != nullptr; ++entry) {
        folders.emplace_back(*entry);
        std::free(*entry);
    }
    std::free(list);
    return folders;
}

std::optional<std::string> findSystemUnitFile(std::string_view name) {
    // A name with a slash would reach outside the folders.
    if (name.empty() || name.find('/') != std::string_view::npos) return std::nullopt;
    for (const std::string& folder : systemUnitSearchPath()) {
        std::string path = folder + '/';
        path.append(name);
        struct stat entry {};
        if (::lstat(path.c_str(), &entry) != 0) continue;  // not in this folder (or it cannot be looked into)
        // The first entry decides, as for systemd: a masked unit, or a
        // dangling link, hides every file of that name further down.
        struct stat target {};
        if (::stat(path.c_str(), &target) != 0 || !S_ISREG(target.st_mode)) return std::nullopt;
        if (target.st_size == 0) return std::nullopt;
        return path;
    }
    return std::nullopt;
}

}  // namespace vexa::units
