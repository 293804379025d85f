// A structural check of binary property lists, run before libplist parses
// one. libplist follows object references recursively and copies shared
// objects, so a crafted file can exhaust its stack (deep nesting) or memory
// (references that fan out); this check bounds both.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace vexa::archive {

struct BinaryPlistLimits {
    unsigned maxDepth = 16;              // containers inside containers
    std::uint64_t maxNodes = 1u << 18;   // objects in the fully expanded tree
    std::uint64_t maxBytes = 1u << 23;   // text and data bytes in the expanded tree
    bool nulInTexts = true;              // texts (not keys) may hold NUL characters
};

// True when `bytes` is a "bplist00" property list whose reachable objects
// all lie inside the object area, use only the kinds a keyed archive needs
// (booleans, integers below 2^64, reals, dates, data, texts, UIDs, arrays,
// dictionaries with text keys), reference only existing objects, contain no
// cycle, and expand within `limits`. A text may hold NUL characters (unless
// limits.nulInTexts is false), but not when it is a dictionary key (libplist
// asserts on reading one) or an ASCII text with other bytes above 0x7F (it
// could not be read whole; see below).
bool isWellFormedBinaryPlist(std::span<const std::uint8_t> bytes, const BinaryPlistLimits& limits = {});

// The property list as libplist can read it whole: libplist's reader ends
// an ASCII text at its first NUL but keeps a UTF-16 text whole, so each
// ASCII text holding a NUL is added again in UTF-16 and the offset table
// points at the copy. None when isWellFormedBinaryPlist is false.
std::optional<std::vector<std::uint8_t>> readableBinaryPlist(std::span<const std::uint8_t> bytes,
                                                             const BinaryPlistLimits& limits = {});

// A binary property list of a single UTF-16 text of `units`: the one form
// from which libplist makes a text node holding NUL characters.
std::vector<std::uint8_t> utf16TextPlist(std::span<const std::uint16_t> units);

}  // namespace vexa::archive
