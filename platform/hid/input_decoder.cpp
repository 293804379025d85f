#include "platform/hid/input_decoder.h"

#include <algorithm>
#include <iterator>

namespace vexa::hid {

namespace {

constexpr std::uint16_t kKeyboardPage = 0x07;
// Keyboard usages 1..3: ErrorRollOver, POSTFail, ErrorUndefined.
constexpr std::uint16_t kLastErrorUsage = 0x03;

// `size` (1..32) bits from bit `offset` of `data`, least significant first;
// bits past the end read as 0.
std::uint32_t extractBits(std::span<const std::uint8_t> data, std::uint32_t offset, std::uint32_t size) {
    std::uint64_t value = 0;
    const std::uint32_t firstByte = offset / 8;
    const std::uint32_t lastByte = (offset + size - 1) / 8;  // at most 5 bytes apart
    for (std::uint32_t b = lastByte + 1; b-- > firstByte;) {
        value <<= 8;
        if (b < data.size()) value |= data[b];
    }
    value >>= offset % 8;
    return static_cast<std::uint32_t>(size == 32 ? value : value & ((std::uint64_t{1} << size) - 1));
}

std::uint32_t rawValue(const InputField& f, std::span<const std::uint8_t> data, std::uint32_t i) {
    return extractBits(data, f.bitOffset + i * f.bitSize, f.bitSize);
}

// Signed fields (a negative logical minimum) are two's complement.
std::int64_t valueOf(const InputField& f, std::uint32_t raw) {
    if (f.logicalMin < 0 && (raw >> (f.bitSize - 1)) & 1) return static_cast<std::int64_t>(raw) - (std::int64_t{1} << f.bitSize);
    return raw;
}

}  // namespace

InputDecoder::InputDecoder(ReportDescriptor descriptor)
    : descriptor_(std::move(descriptor)), lastValues_(descriptor_.inputs.size()), lastUsages_(descriptor_.inputs.size()) {}

void InputDecoder::decode(std::span<const std::uint8_t> report, std::vector<InputValue>& out) {
    std::uint8_t id = 0;
    if (descriptor_.hasReportIds) {
        if (report.empty()) return;
        id = report[0];
        report = report.subspan(1);
    }
    for (std::size_t i = 0; i < descriptor_.inputs.size(); ++i) {
        const InputField& f = descriptor_.inputs[i];
        if (f.reportId != id || f.bitSize > 32) continue;
        if (f.variable) decodeVariable(i, report, out);
        else decodeArray(i, report, out);
    }
}

void InputDecoder::releaseAll(std::vector<InputValue>& out) {
    for (std::size_t i = 0; i < descriptor_.inputs.size(); ++i) {
        const InputField& f = descriptor_.inputs[i];
        std::vector<std::uint32_t>& last = lastValues_[i];
        for (std::uint32_t j = 0; j < last.size(); ++j) {
            if (last[j] == 0) continue;
            last[j] = 0;
            if (f.relative) continue;  // a movement holds nothing down
            const ExtendedUsage u = f.usageAt(j);
            out.push_back({usagePageOf(u), usageIdOf(u), 0});
        }
        for (ExtendedUsage u : lastUsages_[i]) out.push_back({usagePageOf(u), usageIdOf(u), 0});
        lastUsages_[i].clear();
    }
}

void InputDecoder::decodeVariable(std::size_t index, std::span<const std::uint8_t> data, std::vector<InputValue>& out) {
    const InputField& f = descriptor_.inputs[index];
    std::vector<std::uint32_t>& last = lastValues_[index];
    if (last.empty()) last.assign(f.count, 0);  // before the first report every control reads 0
    for (std::uint32_t i = 0; i < f.count; ++i) {
        const std::uint32_t raw = rawValue(f, data, i);
        const bool report = f.relative ? raw != 0 : raw != last[i];
        last[i] = raw;
        if (!report) continue;
        const ExtendedUsage u = f.usageAt(i);
        out.push_back({usagePageOf(u), usageIdOf(u), valueOf(f, raw)});
    }
}

void InputDecoder::decodeArray(std::size_t index, std::span<const std::uint8_t> data, std::vector<InputValue>& out) {
    const InputField& f = descriptor_.inputs[index];
    std::vector<ExtendedUsage> now;
    now.reserve(f.count);
    const std::uint32_t usages = f.usageCount();
    for (std::uint32_t i = 0; i < f.count; ++i) {
        const std::int64_t value = valueOf(f, rawValue(f, data, i));
        if (value < f.logicalMin || value > f.logicalMax) continue;  // "nothing" in this slot
        const std::int64_t usageIndex = value - f.logicalMin;
        if (usageIndex >= usages) continue;
        const ExtendedUsage u = f.usageAt(static_cast<std::uint32_t>(usageIndex));
        if (usageIdOf(u) == 0) continue;  // usage 0 of every page means no control
        if (usagePageOf(u) == kKeyboardPage && usageIdOf(u) <= kLastErrorUsage) return;
        now.push_back(u);
    }
    std::sort(now.begin(), now.end());
    now.erase(std::unique(now.begin(), now.end()), now.end());
    std::vector<ExtendedUsage>& last = lastUsages_[index];  // sorted too
    std::vector<ExtendedUsage> changed;
    std::set_difference(last.begin(), last.end(), now.begin(), now.end(), std::back_inserter(changed));
    for (ExtendedUsage u : changed) out.push_back({usagePageOf(u), usageIdOf(u), 0});
    changed.clear();
    std::set_difference(now.begin(), now.end(), last.begin(), last.end(), std::back_inserter(changed));
    for (ExtendedUsage u : changed) out.push_back({usagePageOf(u), usageIdOf(u), 1});
    last = std::move(now);
}

}  // namespace vexa::hid
