// Tables in the root dictionary, and reading a table with its fallbacks.
#include <cstring>
#include <vector>

#include "platform/resourcefile/resource_file.h"
#include "prefs/legacy_file.h"
#include "prefs/prefs.h"

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
    using vexa::prefs::LegacyResource;
    if (type == nullptr || keymap == nullptr) return KZ730_ERR_OLD_ARGUMENT;
    std::vector<std::uint8_t> table;
    switch (vexa::prefs::readLegacyResource(userName, kKeymapResourceType, legacyResourceId(type), table)) {
        case LegacyResource::NoHome:
            return KZ730_ERR_OLD_NO_HOME;
        case LegacyResource::NoPath:
            return KZ730_ERR_OLD_NO_PATH;
        case LegacyResource::NoFile:
            return KZ730_ERR_OLD_NO_FILE;
        case LegacyResource::CannotOpen:
            return KZ730_ERR_OLD_CANNOT_OPEN;
        case LegacyResource::Missing:
            return KZ730_ERR_OLD_NO_RESOURCE;
        case LegacyResource::Found:
            break;
    }
    if (table.size() != KZ714_KEYMAP_SIZE) return KZ730_ERR_OLD_NO_RESOURCE;
    std::memcpy(keymap, table.data(), KZ714_KEYMAP_SIZE);
    KZ714converOldOrlaKeymap(keymap);
    return 0;
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
