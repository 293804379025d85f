#include "platform/hid/report_descriptor.h"

#include <array>
#include <cerrno>

namespace vexa::hid {

namespace {

// Item types and tags of the short items.
enum ItemType : std::uint8_t { kMain = 0, kGlobal = 1, kLocal = 2, kReserved = 3 };
enum MainTag : std::uint8_t { kInput = 0x8, kCollection = 0xA, kEndCollection = 0xC };
enum GlobalTag : std::uint8_t {
    kUsagePage = 0x0,
    kLogicalMinimum = 0x1,
    kLogicalMaximum = 0x2,
    kReportSize = 0x7,
    kReportId = 0x8,
    kReportCount = 0x9,
    kPush = 0xA,
    kPop = 0xB,
};
enum LocalTag : std::uint8_t { kUsage = 0x0, kUsageMinimum = 0x1, kUsageMaximum = 0x2, kDelimiter = 0xA };
enum InputFlags : std::uint32_t { kConstant = 1u << 0, kVariable = 1u << 1, kRelative = 1u << 2 };
constexpr std::uint8_t kLongItemPrefix = 0xFE;

// Limits the kernel applies too; a descriptor it accepts is accepted here.
constexpr std::uint32_t kMaxReportCount = 12288;
constexpr std::uint32_t kMaxReportSize = 256;
constexpr std::uint32_t kMaxFieldsPerReport = 256;
constexpr std::size_t kMaxGlobalStack = 16;
constexpr std::size_t kMaxCollectionDepth = 64;
constexpr std::uint32_t kMaxReportBits = kMaxReportBytes * 8;

struct Item {
    std::uint8_t type;
    std::uint8_t tag;
    std::uint8_t size;  // 0, 1, 2 or 4 data bytes
    std::uint32_t data;

    std::uint32_t udata() const { return data; }
    std::int32_t sdata() const {
        switch (size) {
        case 1: return static_cast<std::int8_t>(data);
        case 2: return static_cast<std::int16_t>(data);
        default: return static_cast<std::int32_t>(data);
        }
    }
};

struct GlobalState {
    std::uint16_t usagePage = 0;
    std::int64_t logicalMin = 0;
    std::int64_t logicalMax = 0;
    std::uint32_t reportSize = 0;
    std::uint32_t reportCount = 0;
    std::uint8_t reportId = 0;
};

// A usage or usage range of the local state. A short item (one or two data
// bytes) names a usage on the current page; `shortForm` lets the main item
// move it to the page in force there, as the kernel does for descriptors
// that give the Usage Page after the Usage.
struct LocalUsage {
    UsageSpan span;
    bool shortForm;
};

struct LocalState {
    std::vector<LocalUsage> usages;
    std::uint32_t pendingMinimum = 0;
    std::uint8_t pendingMinimumSize = 0;
    bool hasMinimum = false;
    int delimiterDepth = 0;
    int delimiterBranch = 0;
};

class Parser {
public:
    explicit Parser(ReportDescriptor& out) : out_(out) {}

    int item(const Item& it) {
        switch (it.type) {
        case kMain: return main(it);
        case kGlobal: return global(it);
        case kLocal: return local(it);
        default: return 0;  // reserved items carry nothing we use
        }
    }

    int finish() const {
        if (depth_ != 0 || local_.delimiterDepth != 0) return -EBADMSG;
        return 0;
    }

private:
    int global(const Item& it) {
        switch (it.tag) {
        case kUsagePage: global_.usagePage = static_cast<std::uint16_t>(it.udata()); break;
        case kLogicalMinimum: global_.logicalMin = it.sdata(); break;
        case kLogicalMaximum:
            // A maximum is read as signed only when the minimum is negative:
            // "Logical Maximum (255)" is often written in one byte as FF.
            global_.logicalMax = global_.logicalMin < 0 ? static_cast<std::int64_t>(it.sdata()) : it.udata();
            break;
        case kReportSize:
            if (it.udata() > kMaxReportSize) return -EBADMSG;
            global_.reportSize = it.udata();
            break;
        case kReportCount:
            if (it.udata() > kMaxReportCount) return -EBADMSG;
            global_.reportCount = it.udata();
            break;
        case kReportId:
            if (it.udata() == 0 || it.udata() > 0xFF) return -EBADMSG;
            global_.reportId = static_cast<std::uint8_t>(it.udata());
            out_.hasReportIds = true;
            break;
        case kPush:
            if (stackSize_ == kMaxGlobalStack) return -EBADMSG;
            stack_[stackSize_++] = global_;
            break;
        case kPop:
            if (stackSize_ == 0) return -EBADMSG;
            global_ = stack_[--stackSize_];
            break;
        default: break;  // physical range, units: not needed to read values
        }
        return 0;
    }

    int local(const Item& it) {
        if (it.tag == kDelimiter) {
            if (it.udata() == 1) {
                if (local_.delimiterDepth != 0) return -EBADMSG;
                ++local_.delimiterDepth;
                ++local_.delimiterBranch;
            } else {
                if (local_.delimiterDepth == 0) return -EBADMSG;
                --local_.delimiterDepth;
            }
            return 0;
        }
        // Of a delimited set of alternative usages, the first one counts.
        if (local_.delimiterBranch > 1) return 0;
        const bool extended = it.size == 4;
        switch (it.tag) {
        case kUsage: {
            const ExtendedUsage u = extended ? it.udata() : extendedUsage(global_.usagePage, static_cast<std::uint16_t>(it.udata()));
            local_.usages.push_back({{u, u}, !extended});
            break;
        }
        case kUsageMinimum:
            local_.pendingMinimum = it.udata();
            local_.pendingMinimumSize = it.size;
            local_.hasMinimum = true;
            break;
        case kUsageMaximum: {
            if (!local_.hasMinimum) break;  // a maximum without a minimum names nothing
            local_.hasMinimum = false;
            const std::uint16_t page = extended ? usagePageOf(it.udata()) : global_.usagePage;
            const ExtendedUsage last = extended ? it.udata() : extendedUsage(page, static_cast<std::uint16_t>(it.udata()));
            const ExtendedUsage first = local_.pendingMinimumSize == 4
                                            ? local_.pendingMinimum
                                            : extendedUsage(page, static_cast<std::uint16_t>(local_.pendingMinimum));
            // A range runs within one page and upwards; anything else is ignored.
            if (usagePageOf(first) != usagePageOf(last) || first > last) break;
            local_.usages.push_back({{first, last}, !extended});
            break;
        }
        default: break;  // designators and strings
        }
        return 0;
    }

    // Usages given in short form after the last Usage Page item take that page.
    void applyLastUsagePage() {
        for (auto it = local_.usages.rbegin(); it != local_.usages.rend(); ++it) {
            if (!it->shortForm) continue;
            if (usagePageOf(it->span.first) == global_.usagePage) break;
            it->span.first = extendedUsage(global_.usagePage, usageIdOf(it->span.first));
            it->span.last = extendedUsage(global_.usagePage, usageIdOf(it->span.last));
        }
    }

    int main(const Item& it) {
        applyLastUsagePage();
        int r = 0;
        switch (it.tag) {
        case kCollection:
            if (depth_ == kMaxCollectionDepth) return -EBADMSG;
            if (depth_ == 0) out_.topLevelCollections.push_back(local_.usages.empty() ? 0 : local_.usages.front().span.first);
            ++depth_;
            break;
        case kEndCollection:
            if (depth_ == 0) return -EBADMSG;
            --depth_;
            break;
        case kInput: r = input(it.udata()); break;
        default: break;  // Output and Feature: not needed to read input reports
        }
        local_ = LocalState{};
        return r;
    }

    int input(std::uint32_t flags) {
        std::uint32_t& offset = inputBits_[global_.reportId];
        const std::uint32_t bits = global_.reportSize * global_.reportCount;  // at most 256 * 12288
        // One byte of the longest report is kept for a report ID.
        if (offset + bits > kMaxReportBits - 8) return -EBADMSG;
        const bool padding = (flags & kConstant) != 0 || local_.usages.empty() || bits == 0;
        if (!padding) {
            if (inputFields_[global_.reportId]++ == kMaxFieldsPerReport) return -EBADMSG;
            InputField f;
            f.reportId = global_.reportId;
            f.bitOffset = offset;
            f.bitSize = static_cast<std::uint16_t>(global_.reportSize);
            f.count = static_cast<std::uint16_t>(global_.reportCount);
            f.variable = (flags & kVariable) != 0;
            f.relative = (flags & kRelative) != 0;
            f.logicalMin = global_.logicalMin;
            f.logicalMax = global_.logicalMax;
            f.usages.reserve(local_.usages.size());
            for (const LocalUsage& u : local_.usages) f.usages.push_back(u.span);
            out_.inputs.push_back(std::move(f));
        }
        offset += bits;
        return 0;
    }

    ReportDescriptor& out_;
    GlobalState global_;
    std::array<GlobalState, kMaxGlobalStack> stack_{};
    std::size_t stackSize_ = 0;
    LocalState local_;
    std::size_t depth_ = 0;
    std::array<std::uint32_t, 256> inputBits_{};
    std::array<std::uint32_t, 256> inputFields_{};
};

}  // namespace

std::uint32_t InputField::usageCount() const {
    std::uint32_t n = 0;
    for (const UsageSpan& s : usages) n += s.last - s.first + 1;
    return n;
}

ExtendedUsage InputField::usageAt(std::uint32_t index) const {
    for (const UsageSpan& s : usages) {
        const std::uint32_t length = s.last - s.first + 1;
        if (index < length) return s.first + index;
        index -= length;
    }
    return variable && !usages.empty() ? usages.back().last : 0;
}

bool ReportDescriptor::hasTopLevelCollection(std::uint16_t page, std::uint16_t usage) const {
    for (ExtendedUsage u : topLevelCollections) {
        if (u == extendedUsage(page, usage)) return true;
    }
    return false;
}

int parseReportDescriptor(std::span<const std::uint8_t> bytes, ReportDescriptor& out) {
    out = ReportDescriptor{};
    if (bytes.size() > kMaxDescriptorSize) return -E2BIG;
    Parser parser(out);
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        const std::uint8_t prefix = bytes[pos++];
        if (prefix == kLongItemPrefix) {
            // Long items: size byte, tag byte, data. None is defined; skip.
            if (bytes.size() - pos < 2) return -EBADMSG;
            const std::size_t size = bytes[pos];
            pos += 2;
            if (bytes.size() - pos < size) return -EBADMSG;
            pos += size;
            continue;
        }
        static constexpr std::uint8_t kDataSize[4] = {0, 1, 2, 4};
        Item it{static_cast<std::uint8_t>((prefix >> 2) & 3), static_cast<std::uint8_t>(prefix >> 4),
                kDataSize[prefix & 3], 0};
        if (bytes.size() - pos < it.size) return -EBADMSG;
        for (std::uint8_t i = 0; i < it.size; ++i) it.data |= static_cast<std::uint32_t>(bytes[pos + i]) << (8 * i);
        pos += it.size;
        if (const int r = parser.item(it); r < 0) return r;
    }
    return parser.finish();
}

}  // namespace vexa::hid
