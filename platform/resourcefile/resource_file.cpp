#include "platform/resourcefile/resource_file.h"

#include <cerrno>

#include "platform/files/file_io.h"

namespace {

// Header and map header sizes; a type entry is 8 bytes, a reference 12.
constexpr std::uint32_t kHeaderSize = 16;
constexpr std::uint32_t kMapHeaderSize = 28;
constexpr std::uint32_t kTypeEntrySize = 8;
constexpr std::uint32_t kReferenceSize = 12;

std::uint32_t be32(const std::uint8_t* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}
std::uint16_t be16(const std::uint8_t* p) { return static_cast<std::uint16_t>((p[0] << 8) | p[1]); }

// [start, start + length) lies inside [0, size)?
bool inside(std::uint64_t start, std::uint64_t length, std::uint64_t size) {
    return start <= size && length <= size - start;
}

}  // namespace

namespace vexa::resource {

ErrorCode ResourceFile::open(const std::string& path) {
    close();
    std::vector<std::uint8_t> bytes;
    const ErrorCode r = files::readRegularFile(path, bytes);
    if (r != 0) return r;
    return openBytes(std::move(bytes));
}

ErrorCode ResourceFile::openBytes(std::vector<std::uint8_t> bytes) {
    close();
    bytes_ = std::move(bytes);
    if (!parse()) {
        close();
        return -EBADMSG;
    }
    open_ = true;
    return 0;
}

void ResourceFile::close() {
    bytes_.clear();
    bytes_.shrink_to_fit();
    open_ = false;
    dataStart_ = dataLength_ = mapStart_ = mapLength_ = typeList_ = typeCount_ = 0;
}

// Checks the header and the whole map structure; the resources' data is
// checked when a resource is asked for.
bool ResourceFile::parse() {
    const std::uint64_t size = bytes_.size();
    if (size < kHeaderSize) return false;
    const std::uint8_t* b = bytes_.data();
    dataStart_ = be32(b);
    mapStart_ = be32(b + 4);
    dataLength_ = be32(b + 8);
    mapLength_ = be32(b + 12);
    if (!inside(dataStart_, dataLength_, size) || !inside(mapStart_, mapLength_, size)) return false;
    if (mapLength_ < kMapHeaderSize) return false;

    const std::uint8_t* map = b + mapStart_;
    typeList_ = be16(map + 24);
    if (!inside(typeList_, 2, mapLength_)) return false;
    // The count is stored minus one; 0xFFFF means no types.
    typeCount_ = (be16(map + typeList_) + 1u) & 0xFFFF;
    if (!inside(typeList_ + 2ull, std::uint64_t{typeCount_} * kTypeEntrySize, mapLength_)) return false;
    for (std::uint32_t t = 0; t < typeCount_; ++t) {
        const std::uint8_t* entry = map + typeList_ + 2 + t * kTypeEntrySize;
        const std::uint32_t refCount = be16(entry + 4) + 1u;
        const std::uint64_t refList = std::uint64_t{typeList_} + be16(entry + 6);
        if (!inside(refList, std::uint64_t{refCount} * kReferenceSize, mapLength_)) return false;
    }
    return true;
}

std::optional<std::vector<std::uint8_t>> ResourceFile::getResource(std::uint32_t type, std::int16_t id) const {
    if (!open_) return std::nullopt;
    const std::uint8_t* map = bytes_.data() + mapStart_;
    for (std::uint32_t t = 0; t < typeCount_; ++t) {
        const std::uint8_t* entry = map + typeList_ + 2 + t * kTypeEntrySize;
        if (be32(entry) != type) continue;
        const std::uint32_t refCount = be16(entry + 4) + 1u;
        const std::uint8_t* refs = map + typeList_ + be16(entry + 6);
        for (std::uint32_t r = 0; r < refCount; ++r) {
            const std::uint8_t* ref = refs + r * kReferenceSize;
            if (static_cast<std::int16_t>(be16(ref)) != id) continue;
            const std::uint32_t offset = be32(ref + 4) & 0x00FFFFFF;  // after the attributes byte
            if (!inside(offset, 4, dataLength_)) return std::nullopt;
            const std::uint8_t* at = bytes_.data() + dataStart_ + offset;
            const std::uint32_t length = be32(at);
            if (!inside(std::uint64_t{offset} + 4, length, dataLength_)) return std::nullopt;
            return std::vector<std::uint8_t>(at + 4, at + 4 + length);
        }
    }
    return std::nullopt;
}

}  // namespace vexa::resource
