// A structural check of binary property lists, run before libplist parses
// one. libplist follows object references recursively and copies shared
// objects, so a crafted file can exhaust its stack (deep nesting) or memory
// (references that fan out); this check bounds both.
#pragma once

#include <cstdint>
#include <span>

namespace vexa::archive {

struct BinaryPlistLimits {
    unsigned maxDepth = 16;              // containers inside containers
    std::uint64_t maxNodes = 1u << 18;   // objects in the fully expanded tree
    std::uint64_t maxBytes = 1u << 23;   // text and data bytes in the expanded tree
};

// True when `bytes` is a "bplist00" property list whose reachable objects
// all lie inside the object area, use only the kinds a keyed archive needs
// (booleans, integers below 2^64, reals, dates, data, texts without NUL
// characters, UIDs, arrays, dictionaries with text keys), reference only
// existing objects, contain no cycle, and expand within `limits`.
bool isWellFormedBinaryPlist(std::span<const std::uint8_t> bytes, const BinaryPlistLimits& limits = {});

}  // namespace vexa::archive
