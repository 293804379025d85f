// The objects of a decoded archive that opaque values point into, and the
// walks over them: checking what a foreign object references when it is
// read, and comparing two foreign objects. Internal to the keyed-archive
// library.
#pragma once

#include <plist/plist.h>

#include <cstdint>
#include <functional>

#include "platform/keyedarchive/value.h"

namespace vexa::archive {

// A parsed archive kept alive for the opaque values read from it.
struct ForeignObjects {
    explicit ForeignObjects(plist_t archive, plist_t objects);  // takes the archive
    ~ForeignObjects();
    ForeignObjects(const ForeignObjects&) = delete;
    ForeignObjects& operator=(const ForeignObjects&) = delete;

    plist_t archive;
    plist_t objects;  // its "$objects" array
    std::uint64_t count;

    plist_t at(std::uint64_t index) const { return plist_array_get_item(objects, static_cast<std::uint32_t>(index)); }
};

// An integer node written in 16 bytes (an unsigned value above INT64_MAX):
// it must be written in 16 bytes again, or readers take it for negative.
bool isWideInteger(plist_t node);

// Calls `visit` with each key and value of a dictionary node, in order.
// Stops and returns false as soon as `visit` does.
bool forEachEntry(plist_t dict, const std::function<bool(const char* key, plist_t value)>& visit);

// Calls `visit` on `node` and on every node inside it: array items and
// dictionary values. Stops and returns false as soon as `visit` does.
// Nesting inside one object is bounded by the structural check, so this
// recursion is too.
bool forEachNode(plist_t node, const std::function<bool(plist_t)>& visit);

// A text node holding `text`, NUL characters included; null when this
// libplist cannot make one whole.
plist_t textNode(std::string_view text);

// A deep copy of `node`, or null when it cannot be made. Texts holding a
// NUL are copied whole (plist_copy would cut them at the NUL but keep their
// length, and libplist would then read past the copy).
plist_t copyNode(plist_t node);

// Checks everything reachable from object `index` through UIDs: each UID
// names an object of the archive ($null included), texts are UTF-8 (NUL
// characters allowed: they are copied, never made anew), no
// dictionary names a key twice, and there are no bare dates (keyed archives
// keep dates as NSDate objects).
// `spend` is told the text and data bytes of each object reached and
// returns false when the decoding budget is exhausted. Cycles are allowed.
bool isSoundForeignGraph(const ForeignObjects& objects, std::uint64_t index,
                         const std::function<bool(std::uint64_t bytes)>& spend);

// UTF-8 without surrogates or overlong forms; a NUL only with `allowNul`.
bool isValidUtf8(std::string_view s, bool allowNul = false);

}  // namespace vexa::archive
