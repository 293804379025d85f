#include "platform/keyedarchive/bplist_check.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr std::size_t kHeaderSize = 8;
constexpr std::size_t kTrailerSize = 32;

std::uint64_t readBE(const std::uint8_t* p, unsigned size) {
    std::uint64_t v = 0;
    for (unsigned i = 0; i < size; ++i) v = (v << 8) | p[i];
    return v;
}

void putBE(std::vector<std::uint8_t>& out, std::uint64_t v, unsigned size) {
    for (unsigned i = size; i-- > 0;) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// Appends a UTF-16 text object of `units`.
void putUtf16Text(std::vector<std::uint8_t>& out, std::span<const std::uint16_t> units) {
    if (units.size() < 0x0F) {
        out.push_back(static_cast<std::uint8_t>(0x60 | units.size()));
    } else {
        out.push_back(0x6F);
        out.push_back(0x13);
        putBE(out, units.size(), 8);
    }
    for (const std::uint16_t unit : units) putBE(out, unit, 2);
}

// Appends the offset table for objects at `offsets` and the trailer.
void putTableAndTrailer(std::vector<std::uint8_t>& out, std::span<const std::uint64_t> offsets, unsigned refSize,
                        std::uint64_t top) {
    const std::uint64_t table = out.size();
    unsigned offsetSize = 1;
    while (offsetSize < 8 && ((table - 1) >> (8 * offsetSize)) != 0) offsetSize *= 2;
    for (const std::uint64_t offset : offsets) putBE(out, offset, offsetSize);
    out.insert(out.end(), 6, 0);
    out.push_back(static_cast<std::uint8_t>(offsetSize));
    out.push_back(static_cast<std::uint8_t>(refSize));
    putBE(out, offsets.size(), 8);
    putBE(out, top, 8);
    putBE(out, table, 8);
}

std::uint64_t saturatingAdd(std::uint64_t a, std::uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }

// One object of the object area, as far as the check needs it.
struct Object {
    bool ok = false;
    bool isContainer = false;
    bool isText = false;
    bool hasNul = false;              // a text holding a NUL character
    bool isAsciiText = false;
    std::uint64_t payloadBytes = 0;   // text/data bytes it adds to the expanded tree
    const std::uint8_t* refs = nullptr;
    std::uint64_t refCount = 0;       // arrays: n; dictionaries: n keys then n values
    std::uint64_t keyCount = 0;       // dictionaries only
};

class Checker {
public:
    Checker(std::span<const std::uint8_t> bytes, const vexa::archive::BinaryPlistLimits& limits)
        : bytes_(bytes), limits_(limits) {}

    bool run() {
        if (bytes_.size() < kHeaderSize + kTrailerSize) return false;
        if (std::memcmp(bytes_.data(), "bplist00", kHeaderSize) != 0) return false;
        const std::uint8_t* trailer = bytes_.data() + bytes_.size() - kTrailerSize;
        offsetSize_ = trailer[6];
        refSize_ = trailer[7];
        count_ = readBE(trailer + 8, 8);
        const std::uint64_t top = readBE(trailer + 16, 8);
        const std::uint64_t table = readBE(trailer + 24, 8);
        const std::uint64_t trailerAt = bytes_.size() - kTrailerSize;
        if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8) return false;
        if (count_ == 0 || top >= count_) return false;
        if (table < kHeaderSize || table >= trailerAt) return false;
        if (count_ > (trailerAt - table) / offsetSize_) return false;
        table_ = bytes_.data() + table;
        objectEnd_ = table;
        top_ = top;
        return walk(top);
    }

    // After run(): the property list with each ASCII text that holds a NUL
    // added again in UTF-16 after the object area, and a new offset table
    // that points at the copies. Nothing else moves.
    std::vector<std::uint8_t> readable() const {
        if (widen_.empty()) return {bytes_.begin(), bytes_.end()};
        std::vector<std::uint8_t> out(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(objectEnd_));
        std::vector<std::uint64_t> offsets(count_);
        for (std::uint64_t i = 0; i < count_; ++i) offsets[i] = readBE(table_ + i * offsetSize_, offsetSize_);
        for (const std::uint64_t index : widen_) {
            std::uint64_t pos = offsets[index];
            const unsigned low = bytes_[pos++] & 0x0F;
            std::uint64_t length = 0;
            lengthAt(pos, low, length);
            offsets[index] = out.size();
            const std::vector<std::uint16_t> units(bytes_.data() + pos, bytes_.data() + pos + length);
            putUtf16Text(out, units);
        }
        putTableAndTrailer(out, offsets, refSize_, top_);
        return out;
    }

private:
    bool offsetOf(std::uint64_t index, std::uint64_t& at) const {
        at = readBE(table_ + index * offsetSize_, offsetSize_);
        return at >= kHeaderSize && at < objectEnd_;
    }

    // Reads a length: the marker's low nibble, or an integer object after it.
    bool lengthAt(std::uint64_t& pos, unsigned low, std::uint64_t& length) const {
        if (low != 0x0F) {
            length = low;
            return true;
        }
        if (pos >= objectEnd_) return false;
        const std::uint8_t marker = bytes_[pos];
        if ((marker >> 4) != 0x1 || (marker & 0x0F) > 3) return false;
        const unsigned size = 1u << (marker & 0x0F);
        if (objectEnd_ - pos - 1 < size) return false;
        length = readBE(bytes_.data() + pos + 1, size);
        pos += 1 + size;
        return true;
    }

    bool fits(std::uint64_t pos, std::uint64_t count, std::uint64_t unit) const {
        return pos <= objectEnd_ && count <= (objectEnd_ - pos) / unit;
    }

    // Any all-zero unit among `count` units of `unit` bytes from `pos`.
    bool hasZeroUnit(std::uint64_t pos, std::uint64_t count, unsigned unit) const {
        for (std::uint64_t i = 0; i < count; ++i) {
            bool zero = true;
            for (unsigned k = 0; k < unit; ++k) zero = zero && bytes_[pos + i * unit + k] == 0;
            if (zero) return true;
        }
        return false;
    }

    bool hasNonZeroByte(std::uint64_t pos, std::uint64_t count) const {
        return std::any_of(bytes_.data() + pos, bytes_.data() + pos + count, [](std::uint8_t b) { return b != 0; });
    }

    bool isAscii(std::uint64_t pos, std::uint64_t count) const {
        return std::all_of(bytes_.data() + pos, bytes_.data() + pos + count, [](std::uint8_t b) { return b < 0x80; });
    }

    Object parse(std::uint64_t index) const {
        Object o;
        std::uint64_t pos;
        if (!offsetOf(index, pos)) return o;
        const std::uint8_t marker = bytes_[pos++];
        const unsigned low = marker & 0x0F;
        std::uint64_t length = 0;
        switch (marker >> 4) {
            case 0x0:  // only the booleans: keyed archives use no null or fill
                o.ok = marker == 0x08 || marker == 0x09;
                return o;
            case 0x1:  // integer of 1, 2, 4, 8 or 16 bytes
                o.ok = low <= 4 && fits(pos, 1u << low, 1);
                // libplist keeps the low 8 bytes of a 16-byte integer: only
                // values below 2^64 (all an NSNumber holds) survive it.
                if (o.ok && low == 4) o.ok = !hasNonZeroByte(pos, 8);
                return o;
            case 0x2:  // real of 4 or 8 bytes
                o.ok = (low == 2 || low == 3) && fits(pos, 1u << low, 1);
                return o;
            case 0x3:  // date: an 8-byte real
                o.ok = low == 3 && fits(pos, 8, 1);
                return o;
            case 0x4:  // data
                if (!lengthAt(pos, low, length)) return o;
                o.ok = fits(pos, length, 1);
                o.payloadBytes = length;
                return o;
            case 0x5:  // ASCII text
                if (!lengthAt(pos, low, length) || !fits(pos, length, 1)) return o;
                o.hasNul = hasZeroUnit(pos, length, 1);
                // One with a NUL is read in UTF-16 (see readableBinaryPlist),
                // which needs it to be ASCII indeed.
                o.ok = !o.hasNul || (limits_.nulInTexts && isAscii(pos, length));
                o.isText = o.isAsciiText = true;
                o.payloadBytes = length;
                return o;
            case 0x6:  // UTF-16 text; becomes at most 3 UTF-8 bytes a unit
                if (!lengthAt(pos, low, length) || !fits(pos, length, 2)) return o;
                o.hasNul = hasZeroUnit(pos, length, 2);
                o.ok = !o.hasNul || limits_.nulInTexts;
                o.isText = true;
                o.payloadBytes = length * 3;
                return o;
            case 0x8: {  // UID of 1, 2, 4 or 8 bytes
                const unsigned size = low + 1;
                o.ok = (size == 1 || size == 2 || size == 4 || size == 8) && fits(pos, size, 1);
                return o;
            }
            case 0xA:  // array
                if (!lengthAt(pos, low, length)) return o;
                o.ok = fits(pos, length, refSize_);
                o.isContainer = true;
                o.refs = bytes_.data() + pos;
                o.refCount = length;
                return o;
            case 0xD:  // dictionary: n key references, then n value references
                if (!lengthAt(pos, low, length)) return o;
                o.ok = length <= UINT64_MAX / 2 && fits(pos, 2 * length, refSize_);
                o.isContainer = true;
                o.refs = bytes_.data() + pos;
                o.refCount = 2 * length;
                o.keyCount = length;
                return o;
            default:  // sets and unknown kinds
                return o;
        }
    }

    // Depth-first over the reference graph with an explicit stack; each
    // object is expanded once and its expanded size remembered.
    bool walk(std::uint64_t top) {
        enum : std::uint8_t { kNew, kOnPath, kDone };
        std::vector<std::uint8_t> state(count_, kNew);
        std::vector<std::uint64_t> nodes(count_, 0), payload(count_, 0);
        struct Frame {
            std::uint64_t index;
            Object object;
            std::uint64_t next = 0;
        };
        std::vector<Frame> path;

        auto enter = [&](std::uint64_t index) -> bool {
            const Object o = parse(index);
            if (!o.ok) return false;
            if (o.isAsciiText && o.hasNul) widen_.push_back(index);
            if (!o.isContainer) {
                nodes[index] = 1;
                payload[index] = o.payloadBytes;
                state[index] = kDone;
                return true;
            }
            if (path.size() >= limits_.maxDepth) return false;
            state[index] = kOnPath;
            nodes[index] = 1;
            path.push_back({index, o});
            return true;
        };

        if (!enter(top)) return false;
        while (!path.empty()) {
            Frame& f = path.back();
            if (f.next == f.object.refCount) {
                state[f.index] = kDone;
                path.pop_back();
                continue;
            }
            const std::uint64_t k = f.next++;
            const std::uint64_t child = readBE(f.object.refs + k * refSize_, refSize_);
            if (child >= count_ || state[child] == kOnPath) return false;
            const std::uint64_t parent = f.index;
            const bool isKey = k < f.object.keyCount;
            if (state[child] == kNew && !enter(child)) return false;
            // libplist asserts when it reads a key holding a NUL.
            if (isKey && (!parse(child).isText || parse(child).hasNul)) return false;
            // A child still on the path (just entered) adds its size when it
            // is done; account for it then by revisiting through its parent.
            if (state[child] == kOnPath) {
                --path[path.size() - 2].next;
                continue;
            }
            nodes[parent] = saturatingAdd(nodes[parent], nodes[child]);
            payload[parent] = saturatingAdd(payload[parent], payload[child]);
            if (nodes[parent] > limits_.maxNodes || payload[parent] > limits_.maxBytes) return false;
        }
        return nodes[top] <= limits_.maxNodes && payload[top] <= limits_.maxBytes;
    }

    std::span<const std::uint8_t> bytes_;
    vexa::archive::BinaryPlistLimits limits_;
    unsigned offsetSize_ = 0;
    unsigned refSize_ = 0;
    std::uint64_t count_ = 0;
    const std::uint8_t* table_ = nullptr;
    std::uint64_t objectEnd_ = 0;
    std::uint64_t top_ = 0;
    std::vector<std::uint64_t> widen_;  // ASCII texts holding a NUL
};

}  // namespace

bool vexa::archive::isWellFormedBinaryPlist(std::span<const std::uint8_t> bytes, const BinaryPlistLimits& limits) {
    return Checker(bytes, limits).run();
}

std::optional<std::vector<std::uint8_t>> vexa::archive::readableBinaryPlist(std::span<const std::uint8_t> bytes,
                                                                            const BinaryPlistLimits& limits) {
    Checker checker(bytes, limits);
    if (!checker.run()) return std::nullopt;
    return checker.readable();
}

std::vector<std::uint8_t> vexa::archive::utf16TextPlist(std::span<const std::uint16_t> units) {
    std::vector<std::uint8_t> out{'b', 'p', 'l', 'i', 's', 't', '0', '0'};
    putUtf16Text(out, units);
    const std::uint64_t offsets[] = {8};
    putTableAndTrailer(out, offsets, 1, 0);
    return out;
}
