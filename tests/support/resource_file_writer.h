// Writes files in the classic resource-file format, so tests make their
// legacy preference files from a description instead of keeping binaries.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vexa::test {

struct TestResource {
    std::uint32_t type;               // four-character code, e.g. 'KcoD'
    std::int16_t id;
    std::vector<std::uint8_t> data;
    std::string name;                 // empty: the resource has no name
    std::uint8_t attributes = 0;      // the reference's attribute bits (0x20 purgeable, ...)
};

// Where the writer put things (absolute offsets in the file), so a test can
// damage one field on purpose.
struct ResourceFileLayout {
    std::uint32_t dataOffset = 0;
    std::uint32_t mapOffset = 0;
    std::uint32_t typeList = 0;                   // the type count field
    std::vector<std::uint32_t> typeEntries;       // one per type, in file order
    std::vector<std::uint32_t> references;        // one per resource, in the given order
    std::vector<std::uint32_t> lengthFields;      // the 4-byte length before each resource's data
};

// Header at 0, data at 256, then the map with type list, reference lists and
// name list. Resources of one type are grouped in the order given.
std::vector<std::uint8_t> makeResourceFile(const std::vector<TestResource>& resources,
                                           ResourceFileLayout* layout = nullptr);

void putBE32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value);
void putBE16(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint16_t value);

// Writes bytes to a file, creating missing folders; throws on failure.
void writeTestFile(const std::string& path, const std::vector<std::uint8_t>& bytes);

}  // namespace vexa::test
