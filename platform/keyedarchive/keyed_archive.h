// Keyed archives: the object graph that NSKeyedArchiver writes as a binary
// property list ($archiver "NSKeyedArchiver", $version 100000, $top with
// the root's UID, $objects starting with "$null").
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/keyedarchive/value.h"

namespace vexa::archive {

// Nesting of dictionaries and arrays that reading and writing accept.
inline constexpr unsigned kMaxObjectDepth = 32;

// Encodes `root` as the root object of a binary keyed archive.
// Dictionaries are written as NSMutableDictionary, arrays as NSMutableArray,
// dates as NSDate; texts, data, integers, reals and booleans directly; an
// opaque value as the objects it was read as, with its class records and
// everything it references. Returns no bytes when the value cannot be
// archived: a text that is not valid UTF-8 or holds a NUL, or nesting
// deeper than kMaxObjectDepth.
std::vector<std::uint8_t> archivedDataWithRootObject(const Value& root);

// Dictionary keys leading from the root object to an object inside it.
using KeyPath = std::vector<std::string>;

// Decodes the root object of a binary keyed archive. Interprets what the
// platform's archiver writes for NSDictionary / NSMutableDictionary (keys of
// any kind), NSArray / NSMutableArray, NSString / NSMutableString (direct
// texts or "NS.string" objects), NSData / NSMutableData (direct data or
// "NS.data" objects), NSDate, numbers and booleans, and objects referenced
// more than once. Objects of every other class, and integers above
// INT64_MAX, become opaque values.
//
// A damaged object becomes an opaque value too, so that it is written back
// as it was: a text holding a NUL, an object of one of the classes above laid
// out otherwise (an NSString without "NS.string", an NSDictionary whose
// "NS.keys" and "NS.objects" differ in length), an object whose class record
// is broken, a bare array or UID among the objects, or an object holding a
// reference that is no UID. The root, and the objects reached from it
// through the keys of one of `strictPaths` (every dictionary on the way
// included), are what the caller reads: damage there makes the whole archive
// unreadable instead.
//
// Returns none for an archive that cannot be read or written back whole:
// XML property lists, a missing or broken archive header, references past
// the last object, damage where no opaque value may stand in, cycles through
// interpreted objects, nesting deeper than kMaxObjectDepth, texts that are
// not UTF-8, or graphs that expand beyond a fixed budget. Never crashes on
// any input.
std::optional<Value> unarchiveRootObject(std::span<const std::uint8_t> bytes,
                                         std::span<const KeyPath> strictPaths = {});

}  // namespace vexa::archive
