#include "platform/hid/device_match.h"

#include <algorithm>
#include <charconv>

namespace vexa::hid {

bool deviceMatches(const DeviceFacts& facts, const DeviceMatching& m) {
    if (m.vendorId && *m.vendorId != facts.vendorId) return false;
    if (m.productId && *m.productId != facts.productId) return false;
    if (!m.usagePage) return true;
    return std::any_of(facts.topLevelCollections.begin(), facts.topLevelCollections.end(), [&](ExtendedUsage u) {
        return usagePageOf(u) == *m.usagePage && (!m.usage || usageIdOf(u) == *m.usage);
    });
}

bool deviceMatchesAny(const DeviceFacts& facts, std::span<const DeviceMatching> matchings) {
    return matchings.empty() ||
           std::any_of(matchings.begin(), matchings.end(), [&](const DeviceMatching& m) { return deviceMatches(facts, m); });
}

std::optional<HidId> parseHidId(std::string_view text) {
    std::uint32_t parts[3] = {};
    for (int i = 0; i < 3; ++i) {
        const std::size_t end = i < 2 ? text.find(':') : text.size();
        if (end == 0 || end == std::string_view::npos || end > 8) return std::nullopt;
        const auto [ptr, ec] = std::from_chars(text.data(), text.data() + end, parts[i], 16);
        if (ec != std::errc{} || ptr != text.data() + end) return std::nullopt;
        text.remove_prefix(i < 2 ? end + 1 : end);
    }
    return HidId{parts[0], parts[1], parts[2]};
}

}  // namespace vexa::hid
