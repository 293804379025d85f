#include "driver/device_match.h"

#include <cctype>

#include "keymap/keymap.h"

namespace vexa {

bool shouldAttach(const InputNodeFacts& node) {
    if (node.sysname.rfind("event", 0) != 0 || node.devnode.empty()) return false;
    if (!node.hasKeys || !node.hasHidParent) return false;
    return KZ714keymapType(node.vendor, node.product) != nullptr;
}

bool capabilityBitsSet(const std::string& bitmap) {
    for (char c : bitmap) {
        if (std::isxdigit(static_cast<unsigned char>(c)) && c != '0') return true;
    }
    return false;
}

std::int32_t parseHexId(const std::string& text) {
    std::int32_t value = 0;
    int digits = 0;
    for (char c : text) {
        if (c == '\n') break;
        const int d = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                      : (c >= 'a' && c <= 'f')                    ? c - 'a' + 10
                      : (c >= 'A' && c <= 'F')                    ? c - 'A' + 10
                                                                  : -1;
        if (d < 0 || ++digits > 4) return -1;
        value = value * 16 + d;
    }
    return digits > 0 ? value : -1;
}

}  // namespace vexa
