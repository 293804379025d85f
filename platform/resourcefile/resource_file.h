// Reader of the classic resource-file format (header, resource data, and a
// resource map with type list, reference lists and name list), read from a
// file's data fork. Every offset and length in the file is checked: a
// damaged file cannot be opened or has no such resource, it is never read
// out of bounds.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "errors/error_stack.h"

namespace vexa::resource {

// A four-character code such as 'KcoD', as the format stores it (big endian).
constexpr std::uint32_t fourCharCode(const char (&code)[5]) {
    return (std::uint32_t(std::uint8_t(code[0])) << 24) | (std::uint32_t(std::uint8_t(code[1])) << 16) |
           (std::uint32_t(std::uint8_t(code[2])) << 8) | std::uint32_t(std::uint8_t(code[3]));
}

class ResourceFile {
public:
    // Opens the file at `path` read-only (read whole, with the same care as
    // any file another user controls: no symbolic link as the file itself,
    // regular files only, at most 1 MiB). Returns 0, the negative errno of
    // the read, or -EBADMSG when the contents are not a resource file.
    // A user's legacy preference file is not opened here but through
    // vexa::prefs::readLegacyResource, which reads it with the user's rights.
    ErrorCode open(const std::string& path);
    // Opens a resource file held in memory; 0 or -EBADMSG.
    ErrorCode openBytes(std::vector<std::uint8_t> bytes);

    // A copy of the data of the resource with this type and ID; none when
    // the file is not open, has no such resource, or the resource's data
    // does not lie inside the file's data area.
    std::optional<std::vector<std::uint8_t>> getResource(std::uint32_t type, std::int16_t id) const;

    void close();
    bool isOpen() const { return open_; }

private:
    bool parse();

    std::vector<std::uint8_t> bytes_;
    bool open_ = false;
    std::uint32_t dataStart_ = 0, dataLength_ = 0;
    std::uint32_t mapStart_ = 0, mapLength_ = 0;
    std::uint32_t typeList_ = 0;  // offset in the map
    std::uint32_t typeCount_ = 0;
};

}  // namespace vexa::resource
