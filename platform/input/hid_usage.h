// HID usages as the kernel's HID input layer reports them: with each key
// event of a HID keyboard comes an MSC_SCAN whose value is the usage page in
// the high 16 bits and the usage in the low 16 bits.
#pragma once

#include <cstdint>

namespace vexa {

inline constexpr std::uint32_t kUsagePageKeyboard = 0x07;
inline constexpr std::uint32_t kUsagePageConsumer = 0x0C;
inline constexpr std::uint32_t kConsumerEject = 0xB8;

struct HidUsage {
    std::uint32_t page;
    std::uint32_t usage;

    // The MSC_SCAN value the kernel sends with this usage, and back.
    constexpr std::uint32_t scan() const { return page << 16 | usage; }
    static constexpr HidUsage fromScan(std::uint32_t scan) { return {scan >> 16, scan & 0xFFFF}; }
    friend constexpr bool operator==(HidUsage, HidUsage) = default;
};

}  // namespace vexa
