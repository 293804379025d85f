// Tables in the root dictionary, and reading a table with its fallbacks.
#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/resourcefile/resource_file.h"
#include "prefs/home_path.h"
#include "prefs/prefs.h"
#include "prefs/user_file.h"

using vexa::archive::Data;
using vexa::archive::Dictionary;

namespace {

constexpr std::uint32_t kKeymapResourceType = vexa::resource::fourCharCode("KcoD");

std::int16_t legacyResourceId(KeymapType type) {
    if (std::strcmp(type, KZ714_TYPE_ANSI) == 0) return 101;
    if (std::strcmp(type, KZ714_TYPE_JIS) == 0) return 104;
    return 0;
}

}  // namespace

ErrorCode KZ730getKeymapFromPrefData(const Dictionary* root, KeymapType type, std::uint8_t* keymap) {
    if (root == nullptr || type == nullptr || keymap == nullptr) return KZ730_ERR_GET_ARGUMENT;
    const auto* entry = root->find(KZ730_KEYMAP_KEY);
    const auto* keymaps = entry != nullptr ? entry->get<Dictionary>() : nullptr;
    if (keymaps == nullptr) return KZ730_ERR_GET_NO_KEYMAPS;
    const auto* value = keymaps->find(type);
    const auto* data = value != nullptr ? value->get<Data>() : nullptr;
    if (data == nullptr) return KZ730_ERR_GET_NO_TABLE;
    if (data->size() != KZ714_KEYMAP_SIZE) return KZ730_ERR_GET_TABLE_SIZE;
    std::memcpy(keymap, data->data(), KZ714_KEYMAP_SIZE);
    return 0;
}

ErrorCode KZ730setKeymapToPrefData(Dictionary* root, KeymapType type, const std::uint8_t* keymap) {
    if (root == nullptr || type == nullptr || keymap == nullptr) return KZ730_ERR_SET_ARGUMENT;
    Dictionary keymaps;
    if (const auto* entry = root->find(KZ730_KEYMAP_KEY); entry != nullptr && entry->get<Dictionary>() != nullptr) {
        keymaps = *entry->get<Dictionary>();
    }
    keymaps.set(type, Data(keymap, keymap + KZ714_KEYMAP_SIZE));
    root->set(KZ730_KEYMAP_KEY, std::move(keymaps));
    return 0;
}

extern "C" ErrorCode KZ730readNewKeymap(const char* userName, KeymapType type, std::uint8_t* keymap) {
    const auto root = KZ730readNewPrefFile(userName);
    if (!root) return KZ730_ERR_NEW_NO_FILE;
    const ErrorCode r = KZ730getKeymapFromPrefData(&*root, type, keymap);
    if (r != 0) {
        KZ710stackError(nullptr, r);
        return KZ730_ERR_NEW_NO_TABLE;
    }
    return 0;
}

extern "C" ErrorCode KZ730readOldKeymap(const char* userName, KeymapType type, std::uint8_t* keymap) {
    if (type == nullptr || keymap == nullptr) return KZ730_ERR_OLD_ARGUMENT;
    const auto home = vexa::user::homeDirectoryForUser(userName);
    if (!home) return KZ730_ERR_OLD_NO_HOME;
    const std::string path = vexa::prefs::joinHome(*home, KZ730_OLD_PREF_FILE);
    if (path.size() >= PATH_MAX) return KZ730_ERR_OLD_NO_PATH;

    // Read as the current file is: with the user's rights.
    std::vector<std::uint8_t> bytes;
    const ErrorCode read = vexa::prefs::readUserFile(userName, path, bytes);
    if (read == -ENOENT || read == -ENOTDIR) return KZ730_ERR_OLD_NO_FILE;
    vexa::resource::ResourceFile file;
    if (read != 0 || file.openBytes(std::move(bytes)) != 0) return KZ730_ERR_OLD_CANNOT_OPEN;
    ErrorCode result = KZ730_ERR_OLD_NO_RESOURCE;
    const auto table = file.getResource(kKeymapResourceType, legacyResourceId(type));
    if (table && table->size() == KZ714_KEYMAP_SIZE) {
        std::memcpy(keymap, table->data(), KZ714_KEYMAP_SIZE);
        KZ714converOldOrlaKeymap(keymap);
        result = 0;
    }
    file.close();
    return result;
}

extern "C" ErrorCode KZ730readKeymap(const char* userName, KeymapType type, std::uint8_t* keymap) {
    if (KZ730readNewKeymap(userName, type, keymap) == 0) return 0;
    if (KZ730readOldKeymap(userName, type, keymap) == 0) return 0;
    if (type != nullptr && std::strcmp(type, KZ714_TYPE_JIS) == 0) {
        KZ714defaultOrlaJISKeymap(keymap);
    } else {
        KZ714defaultOrlaANSIKeymap(keymap);
    }
    return 0;
}
