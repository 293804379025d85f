// Builds keyed archives object by object with libplist, so tests can make
// the variants the platform writes and every kind of malformed graph; and
// raw binary property lists for the structural check.
#pragma once

#include <plist/plist.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace vexa::archive::test {

class ArchiveBuilder {
public:
    ArchiveBuilder();
    ~ArchiveBuilder();
    ArchiveBuilder(const ArchiveBuilder&) = delete;
    ArchiveBuilder& operator=(const ArchiveBuilder&) = delete;

    // Appends an object (ownership passes) and returns its index.
    std::uint64_t add(plist_t node);
    // Index the next add() will get.
    std::uint64_t next() const;
    void replace(std::uint64_t index, plist_t node);

    std::uint64_t string(const char* s) { return add(plist_new_string(s)); }
    std::uint64_t data(const std::vector<std::uint8_t>& bytes);
    std::uint64_t classRecord(const char* name, std::initializer_list<const char*> chain);
    // {"NS.keys": [UIDs], "NS.objects": [UIDs], "$class": UID}
    plist_t dictObject(std::initializer_list<std::uint64_t> keys, std::initializer_list<std::uint64_t> values,
                       std::uint64_t classIndex);
    plist_t arrayObject(std::initializer_list<std::uint64_t> items, std::uint64_t classIndex);
    // An object of any class: the given fields (ownership passes) and "$class".
    plist_t object(std::initializer_list<std::pair<const char*, plist_t>> fields, std::uint64_t classIndex);
    // An integer written in 16 bytes, as the platform writes values above INT64_MAX.
    std::uint64_t wideInteger(std::uint64_t value);

    // The top-level dictionary of the archive; tests may change it before finish().
    plist_t top() { return archive_; }
    // Binary property list with $top {"root": UID(root)}.
    std::vector<std::uint8_t> finish(std::uint64_t root);

private:
    plist_t archive_;
    plist_t objects_;
};

plist_t uidArray(std::initializer_list<std::uint64_t> uids);

// A raw "bplist00" file from encoded objects (marker bytes included), with
// 4-byte offsets and the given reference size.
std::vector<std::uint8_t> rawBinaryPlist(const std::vector<std::vector<std::uint8_t>>& objects, std::uint64_t top,
                                         unsigned refSize = 4);
// An encoded array object holding the given references.
std::vector<std::uint8_t> rawArray(const std::vector<std::uint64_t>& refs, unsigned refSize = 4);

}  // namespace vexa::archive::test
