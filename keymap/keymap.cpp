// Keymap tables and keyboard types. Runs inside the driver's event path, so
// it uses nothing but byte stores, one 256-byte comparison and constants.
#include "keymap/keymap.h"

#include <cstring>

namespace {

// Classic virtual key code (index) -> HID usage on page 7; 0 = no usage.
constexpr uint8_t kLegacyKeyCodeTable[128] = {
    4,   22,  7,   9,   11,  10,  29,  27,  6,   25,  100, 5,   20,  26,  8,   21,   // 0-15
    28,  23,  30,  31,  32,  33,  35,  34,  46,  38,  36,  45,  37,  39,  48,  18,   // 16-31
    24,  47,  12,  19,  40,  15,  13,  52,  14,  51,  50,  54,  56,  17,  16,  55,   // 32-47
    43,  44,  53,  42,  88,  41,  231, 227, 225, 57,  226, 224, 229, 230, 228, 0,    // 48-63
    0,   99,  0,   85,  0,   87,  0,   83,  128, 129, 127, 84,  88,  111, 86,  0,    // 64-79
    0,   103, 98,  89,  90,  91,  92,  93,  94,  95,  0,   96,  97,  137, 135, 133,  // 80-95
    62,  63,  64,  60,  65,  66,  145, 68,  144, 70,  107, 71,  0,   67,  101, 69,   // 96-111
    0,   72,  73,  74,  75,  76,  61,  77,  59,  78,  58,  80,  79,  81,  82,  102,  // 112-127
};

// The two type texts: one constant each, so that every caller gets the same
// pointer for the same type.
constexpr char kTypeANSI[] = KZ714_TYPE_ANSI;
constexpr char kTypeJIS[] = KZ714_TYPE_JIS;

// Entries that every converted table keeps as identity: keys the legacy
// format could not express (backslash, power, F20, mute, volume up/down).
constexpr uint8_t kForcedIdentity[] = {49, 127, 111, 128, 129, 102};

void fillIdentity(uint8_t* keymap) {
    for (int i = 0; i < KZ714_KEYMAP_SIZE; ++i) keymap[i] = static_cast<uint8_t>(i);
}

}  // namespace

extern "C" {

KeymapType KZ714keymapType(int32_t vendorID, int32_t productID) {
    if (vendorID == 1138 && productID == 101) return kTypeANSI;
    if (vendorID == 1278 && productID == 6) return kTypeANSI;
    if (vendorID == 1138 && productID == 104) return kTypeJIS;
    if (vendorID == 1278 && productID == 7) return kTypeJIS;
    return nullptr;
}

void KZ714defaultOrlaANSIKeymap(uint8_t* keymap) {
    if (keymap == nullptr) return;
    fillIdentity(keymap);
}

void KZ714defaultOrlaJISKeymap(uint8_t* keymap) {
    if (keymap == nullptr) return;
    fillIdentity(keymap);
    keymap[53] = 227;   // grave accent -> left GUI
    keymap[136] = 231;  // International2 (kana) -> right GUI
    keymap[138] = 144;  // International4 (henkan) -> LANG1
    keymap[139] = 145;  // International5 (muhenkan) -> LANG2
}

uint8_t KZ714keycodeFromKeymap(const uint8_t* keymap, uint32_t usage) {
    if (keymap == nullptr || usage > 255) return 0;
    return keymap[usage];
}

bool KZ714compareKeymap(const uint8_t* a, const uint8_t* b) {
    if (a == nullptr || b == nullptr) return false;
    return std::memcmp(a, b, KZ714_KEYMAP_SIZE) == 0;
}

void KZ714converOldOrlaKeymap(uint8_t* keymap) {
    if (keymap == nullptr) return;
    for (int i = 0; i < KZ714_KEYMAP_SIZE; ++i) {
        const uint8_t v = keymap[i];
        keymap[i] = v >= 128 ? 0 : kLegacyKeyCodeTable[v];
    }
    for (uint8_t usage : kForcedIdentity) keymap[usage] = usage;
}

}  // extern "C"
