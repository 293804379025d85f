// Which HID devices a HID manager matches: the facts of a device (vendor and
// product, the usages of its top-level collections) against matching
// criteria, as plain data with no device access, and the reading of the
// kernel's HID_ID property.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "platform/hid/report_descriptor.h"

namespace vexa::hid {

struct DeviceFacts {
    std::uint32_t vendorId = 0;
    std::uint32_t productId = 0;
    std::vector<ExtendedUsage> topLevelCollections;
};

// One set of criteria; a criterion left empty matches every device. A usage
// without a usage page is ignored, as the page is needed to name it.
struct DeviceMatching {
    std::optional<std::uint16_t> usagePage;
    std::optional<std::uint16_t> usage;
    std::optional<std::uint32_t> vendorId;
    std::optional<std::uint32_t> productId;
};

bool deviceMatches(const DeviceFacts& facts, const DeviceMatching& matching);
// True when some set of criteria matches; an empty list matches every device.
bool deviceMatchesAny(const DeviceFacts& facts, std::span<const DeviceMatching> matchings);

struct HidId {
    std::uint32_t bus;
    std::uint32_t vendorId;
    std::uint32_t productId;
};

// "0003:000004FE:00000006" (bus, vendor, product in hexadecimal) as the
// kernel writes HID_ID; nothing when the text has another form.
std::optional<HidId> parseHidId(std::string_view text);

}  // namespace vexa::hid
