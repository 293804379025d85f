// The current preference file: where it is, reading it, writing it.
#include <sys/stat.h>

#include <cerrno>

#include "platform/files/file_io.h"
#include "platform/keyedarchive/keyed_archive.h"
#include "prefs/home_path.h"
#include "prefs/prefs.h"
#include "prefs/user_file.h"

using vexa::archive::Dictionary;

namespace {

// What this module reads: the two tables and the dictionaries on the way
// to them. Damage there counts as no file; damage anywhere else is kept as
// it is and written back with the next save.
const vexa::archive::KeyPath kTablePaths[] = {{KZ730_KEYMAP_KEY, KZ714_TYPE_ANSI}, {KZ730_KEYMAP_KEY, KZ714_TYPE_JIS}};

// mkdir that accepts an existing folder; 0 or an errno.
int makeFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST) return 0;
    return errno;
}

}  // namespace

std::optional<std::string> KZ730prefFilePath(const char* userName) {
    return vexa::prefs::pathInHome(userName, KZ730_PREF_FILE);
}

std::optional<Dictionary> KZ730readNewPrefFile(const char* userName) {
    const auto path = KZ730prefFilePath(userName);
    if (!path) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    if (vexa::prefs::readUserFile(userName, *path, bytes) != 0) return std::nullopt;
    auto root = vexa::archive::unarchiveRootObject(bytes, kTablePaths);
    if (!root) return std::nullopt;
    auto* dict = root->get<Dictionary>();
    if (dict == nullptr) return std::nullopt;
    return std::move(*dict);
}

ErrorCode KZ730writeNewPrefFile(const char* userName, const Dictionary* root, std::optional<vexa::Error>* error) {
    if (error != nullptr) error->reset();
    if (root == nullptr || root->empty()) return KZ730_ERR_WRITE_EMPTY;
    const auto path = KZ730prefFilePath(userName);
    if (!path) return KZ730_ERR_WRITE_NO_PATH;
    const auto data = vexa::archive::archivedDataWithRootObject(*root);
    if (data.empty()) return KZ730_ERR_WRITE_NO_DATA;

    int err = 0;
    std::string written;  // the file replaced, where a link leads
    if (data.size() > vexa::files::kMaxFileSize) {
        err = EFBIG;  // readers refuse it: writing it would lose the tables
    } else {
        // ".../Library/Preferences/<file>": make the two folders when missing.
        const std::string preferences = path->substr(0, path->rfind('/'));
        const std::string library = preferences.substr(0, preferences.rfind('/'));
        err = makeFolder(library);
        if (err == 0) err = makeFolder(preferences);
        // A dotfile manager may have made the file a link to the user's own
        // copy: that copy is replaced and the link stays.
        if (err == 0) err = -vexa::files::writeFileThroughLinks(*path, data, &written);
    }
    if (err != 0) {
        if (error != nullptr) *error = vexa::files::fileWriteError(written.empty() ? *path : written, err);
        return KZ730_ERR_WRITE_FAILED;
    }
    return 0;
}
