// Keyed archives: the object graph that NSKeyedArchiver writes as a binary
// property list ($archiver "NSKeyedArchiver", $version 100000, $top with
// the root's UID, $objects starting with "$null").
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/keyedarchive/value.h"

namespace vexa::archive {

// Nesting of dictionaries and arrays that reading and writing accept.
inline constexpr unsigned kMaxObjectDepth = 32;

// Encodes `root` as the root object of a binary keyed archive.
// Dictionaries are written as NSMutableDictionary, arrays as NSMutableArray,
// dates as NSDate; texts, data, integers, reals and booleans directly.
// Returns no bytes when the value cannot be archived: a text that is not
// valid UTF-8 or holds a NUL, or nesting deeper than kMaxObjectDepth.
std::vector<std::uint8_t> archivedDataWithRootObject(const Value& root);

// Decodes the root object of a binary keyed archive. Accepts what the
// platform's archiver writes: NSDictionary / NSMutableDictionary,
// NSArray / NSMutableArray, NSString / NSMutableString (direct texts or
// "NS.string" objects), NSData / NSMutableData (direct data or "NS.data"
// objects), NSDate, numbers and booleans, and objects referenced more than
// once. Returns none for anything else or anything malformed: XML property
// lists, wrong UIDs or types, cycles, nesting deeper than kMaxObjectDepth,
// dictionary keys that are not texts, texts that are not UTF-8, or graphs
// that expand beyond a fixed budget. Never crashes on any input.
std::optional<Value> unarchiveRootObject(std::span<const std::uint8_t> bytes);

}  // namespace vexa::archive
