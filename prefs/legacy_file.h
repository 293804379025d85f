// Resources of a user's legacy preference file, read with that user's rights.
#pragma once

#include <cstdint>
#include <vector>

namespace vexa::prefs {

enum class LegacyResource {
    Found,
    NoHome,      // the user has no home directory
    NoPath,      // the file's path is too long
    NoFile,      // the legacy file does not exist
    CannotOpen,  // it cannot be read (the user may not, not a regular file, over 1 MiB) or is no resource file
    Missing,     // the file has no such resource
};

// Copies the data of the resource of `type` and `id` in the named user's
// legacy file (KZ730_OLD_PREF_FILE under the home folder; a null name: the
// user running the process) into `out`. The file is read the way the current
// file is: a root process reads it with the user's rights, and only a regular
// file is read. The tables ('KcoD') and the editor's old DIP switch settings
// ('DSsw' 128) are both read through here.
LegacyResource readLegacyResource(const char* userName, std::uint32_t type, std::int16_t id,
                                  std::vector<std::uint8_t>& out);

}  // namespace vexa::prefs
