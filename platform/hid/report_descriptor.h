// HID report descriptors: the parser that turns a device's descriptor into
// the layout of its input reports (which bits carry which usages), and the
// list of its top-level collections. Pure: no I/O, no allocation beyond the
// result, every read bounds-checked, so hostile bytes from a device or a
// file give an error status and never a crash.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace vexa::hid {

// A usage with its page: page << 16 | usage id.
using ExtendedUsage = std::uint32_t;

constexpr ExtendedUsage extendedUsage(std::uint16_t page, std::uint16_t id) {
    return static_cast<ExtendedUsage>(page) << 16 | id;
}
constexpr std::uint16_t usagePageOf(ExtendedUsage u) { return static_cast<std::uint16_t>(u >> 16); }
constexpr std::uint16_t usageIdOf(ExtendedUsage u) { return static_cast<std::uint16_t>(u & 0xFFFF); }

// The kernel refuses larger descriptors and longer reports; so do we.
inline constexpr std::size_t kMaxDescriptorSize = 4096;
inline constexpr std::size_t kMaxReportBytes = 16384;

// Consecutive usages first..last (inclusive), from one Usage item or one
// Usage Minimum / Usage Maximum pair.
struct UsageSpan {
    ExtendedUsage first;
    ExtendedUsage last;
};

// One Input main item that carries data (constant padding is left out):
// `count` values of `bitSize` bits each, starting `bitOffset` bits after the
// report ID byte (or after the start of the report when there are no IDs).
struct InputField {
    std::uint8_t reportId = 0;  // 0 when the descriptor declares no report IDs
    std::uint32_t bitOffset = 0;
    std::uint16_t bitSize = 0;  // 1..256; values are only decoded up to 32 bits
    std::uint16_t count = 0;
    bool variable = false;  // false: an array of usage indices (keys down)
    bool relative = false;
    std::int64_t logicalMin = 0;
    std::int64_t logicalMax = 0;
    std::vector<UsageSpan> usages;  // in declaration order; never empty

    // Number of usages the spans hold.
    std::uint32_t usageCount() const;
    // The usage with this index in the spans; for a variable field an index
    // past the end gives the last usage (the item's last usage repeats).
    // 0 when there is none.
    ExtendedUsage usageAt(std::uint32_t index) const;
};

struct ReportDescriptor {
    std::vector<InputField> inputs;
    // The usage of each top-level collection, in order.
    std::vector<ExtendedUsage> topLevelCollections;
    // Every report starts with a one-byte report ID.
    bool hasReportIds = false;

    bool hasTopLevelCollection(std::uint16_t page, std::uint16_t usage) const;
};

// Parses `bytes`. Returns 0, -E2BIG for a descriptor larger than
// kMaxDescriptorSize, or -EBADMSG for a malformed one (an item cut short, a
// report ID of 0, a Pop without a Push, unbalanced collections, a report
// longer than kMaxReportBytes with its ID byte, more than 256 data fields in
// one report, ...). `out` is only complete on success.
int parseReportDescriptor(std::span<const std::uint8_t> bytes, ReportDescriptor& out);

}  // namespace vexa::hid
