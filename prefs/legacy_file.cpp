#include "prefs/legacy_file.h"

#include <cerrno>
#include <climits>

#include "platform/resourcefile/resource_file.h"
#include "prefs/home_path.h"
#include "prefs/prefs.h"
#include "prefs/user_file.h"

vexa::prefs::LegacyResource vexa::prefs::readLegacyResource(const char* userName, std::uint32_t type,
                                                            std::int16_t id, std::vector<std::uint8_t>& out) {
    out.clear();
    const auto path = pathInHome(userName, KZ730_OLD_PREF_FILE);
    if (!path) return LegacyResource::NoHome;
    if (path->size() >= PATH_MAX) return LegacyResource::NoPath;

    std::vector<std::uint8_t> bytes;
    const ErrorCode read = readUserFile(userName, *path, bytes);
    if (read == -ENOENT || read == -ENOTDIR) return LegacyResource::NoFile;
    resource::ResourceFile file;
    if (read != 0 || file.openBytes(std::move(bytes)) != 0) return LegacyResource::CannotOpen;
    auto resource = file.getResource(type, id);
    if (!resource) return LegacyResource::Missing;
    out = std::move(*resource);
    return LegacyResource::Found;
}
