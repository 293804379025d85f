#include "platform/resourcefile/resource_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <functional>

#include "tests/support/resource_file_writer.h"
#include "tests/support/temp_dir.h"

namespace {

using vexa::resource::fourCharCode;
using vexa::resource::ResourceFile;
using vexa::test::makeResourceFile;
using vexa::test::putBE16;
using vexa::test::putBE32;
using vexa::test::ResourceFileLayout;
using vexa::test::TestResource;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kKcoD = fourCharCode("KcoD");
constexpr std::uint32_t kDSsw = fourCharCode("DSsw");

Bytes filled(std::size_t n, std::uint8_t v) { return Bytes(n, v); }

// Attribute bits share a word with the data offset: the reader must mask them.
const std::vector<TestResource> kSample = {
    {kKcoD, 101, filled(256, 1), "", 0x20},
    {kDSsw, 128, {0, 1, 0, 2, 0, 1, 0, 0}, "DIP switches"},
    {kKcoD, 104, filled(256, 2), "JIS", 0xFF},
    {kKcoD, -5, {}, ""},
};

// The test writer must follow the published layout rather than merely agree
// with the reader: each field of a small file, at the offset the format
// gives it, with the values worked out by hand.
TEST(ResourceFile, TheTestWriterFollowsThePublishedLayout) {
    const Bytes f = makeResourceFile({{kKcoD, 101, {0xAA, 0xBB, 0xCC}, "ab", 0x20}, {kDSsw, 128, {}, ""}});
    auto be16 = [&](std::size_t at) { return (unsigned{f.at(at)} << 8) | f.at(at + 1); };
    auto be32 = [&](std::size_t at) { return (be16(at) << 16) | be16(at + 2); };
    auto slice = [&](std::size_t from, std::size_t to) { return Bytes(f.begin() + from, f.begin() + to); };
    ASSERT_EQ(f.size(), 340u);
    // Header: data offset, map offset, data length, map length.
    EXPECT_EQ(be32(0), 256u);
    EXPECT_EQ(be32(4), 267u);
    EXPECT_EQ(be32(8), 11u);
    EXPECT_EQ(be32(12), 73u);
    // Data area: each resource's bytes after a 4-byte length.
    EXPECT_EQ(be32(256), 3u);
    EXPECT_EQ(slice(260, 263), (Bytes{0xAA, 0xBB, 0xCC}));
    EXPECT_EQ(be32(263), 0u);
    // Map: copy of the header, handle, file reference, attributes, then the
    // offsets from the map to the type list and to the name list.
    const std::size_t map = 267;
    EXPECT_EQ(slice(map, map + 16), slice(0, 16));
    EXPECT_EQ(be16(map + 24), 28u);
    EXPECT_EQ(be16(map + 26), 70u);
    // Type list: number of types - 1; per type its code, number of
    // resources - 1 and the offset from the type list to its references.
    const std::size_t types = map + 28;
    EXPECT_EQ(be16(types), 1u);
    EXPECT_EQ(be32(types + 2), kKcoD);
    EXPECT_EQ(be16(types + 6), 0u);
    EXPECT_EQ(be16(types + 8), 18u);
    EXPECT_EQ(be32(types + 10), kDSsw);
    EXPECT_EQ(be16(types + 14), 0u);
    EXPECT_EQ(be16(types + 16), 30u);
    // References: ID, name offset in the name list (0xFFFF: none),
    // attributes, 3-byte offset in the data area, reserved handle.
    EXPECT_EQ(be16(types + 18), 101u);
    EXPECT_EQ(be16(types + 20), 0u);
    EXPECT_EQ(f[types + 22], 0x20);
    EXPECT_EQ(be32(types + 22) & 0xFFFFFF, 0u);
    EXPECT_EQ(be32(types + 26), 0u);
    EXPECT_EQ(be16(types + 30), 128u);
    EXPECT_EQ(be16(types + 32), 0xFFFFu);
    EXPECT_EQ(be32(types + 34), 7u);
    // Name list: length-prefixed names.
    EXPECT_EQ(slice(map + 70, f.size()), (Bytes{2, 'a', 'b'}));
}

TEST(ResourceFile, FindsEachResourceByTypeAndId) {
    ResourceFile file;
    ASSERT_EQ(file.openBytes(makeResourceFile(kSample)), 0);
    for (const auto& r : kSample) EXPECT_EQ(file.getResource(r.type, r.id), r.data) << r.id;
    EXPECT_EQ(file.getResource(kKcoD, 0), std::nullopt);
    EXPECT_EQ(file.getResource(kDSsw, 101), std::nullopt);
    EXPECT_EQ(file.getResource(fourCharCode("kcod"), 101), std::nullopt);
    file.close();
    EXPECT_FALSE(file.isOpen());
    EXPECT_EQ(file.getResource(kKcoD, 101), std::nullopt);
}

TEST(ResourceFile, AFileWithoutResourcesOpens) {
    ResourceFile file;
    ASSERT_EQ(file.openBytes(makeResourceFile({})), 0);
    EXPECT_EQ(file.getResource(kKcoD, 101), std::nullopt);
}

TEST(ResourceFile, OpensFromAPathWithTheSafeReader) {
    vexa::test::TempDir dir;
    vexa::test::writeTestFile(dir / "legacy.prefs", makeResourceFile(kSample));
    ResourceFile file;
    ASSERT_EQ(file.open(dir / "legacy.prefs"), 0);
    EXPECT_EQ(file.getResource(kKcoD, 104), filled(256, 2));
    EXPECT_EQ(file.open(dir / "missing"), -ENOENT);
    EXPECT_FALSE(file.isOpen());
    ASSERT_EQ(::symlink((dir / "legacy.prefs").c_str(), (dir / "link").c_str()), 0);
    EXPECT_EQ(file.open(dir / "link"), -ELOOP);
    vexa::test::writeTestFile(dir / "empty", {});
    EXPECT_EQ(file.open(dir / "empty"), -EBADMSG);
}

struct Damage {
    const char* what;
    std::function<void(Bytes&, const ResourceFileLayout&)> apply;
    bool opens;  // false: open fails; true: opens, but KcoD 101 is gone
};

TEST(ResourceFile, DamagedFilesNeverReadOutOfBounds) {
    const Damage cases[] = {
        {"data area past the end", [](Bytes& b, auto&) { putBE32(b, 8, static_cast<std::uint32_t>(b.size())); }, false},
        {"data offset near 2^32", [](Bytes& b, auto&) { putBE32(b, 0, 0xFFFFFFF0); }, false},
        {"map past the end", [](Bytes& b, auto& l) { putBE32(b, 4, l.mapOffset + 1); }, false},
        {"map shorter than its header", [](Bytes& b, auto&) { putBE32(b, 12, 27); }, false},
        {"type list outside the map", [](Bytes& b, auto& l) { putBE16(b, l.mapOffset + 24, 0xFFF0); }, false},
        {"more types than the map holds", [](Bytes& b, auto& l) { putBE16(b, l.typeList, 0x7FFF); }, false},
        {"more references than the map holds", [](Bytes& b, auto& l) { putBE16(b, l.typeEntries[0] + 4, 0xFFFE); }, false},
        {"reference list outside the map", [](Bytes& b, auto& l) { putBE16(b, l.typeEntries[0] + 6, 0xFFF0); }, false},
        {"resource data offset past the data area",
         [](Bytes& b, auto& l) { putBE32(b, l.references[0] + 4, 0x00FFFFFF); }, true},
        {"length field past the data area",
         [](Bytes& b, auto& l) { putBE32(b, l.lengthFields[0], 0xFFFFFFFF); }, true},
        {"length one byte too long for the data area",
         [](Bytes& b, auto& l) { putBE32(b, 8, l.lengthFields[0] + 4 + 256 - 1 - l.dataOffset); }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ResourceFileLayout layout;
        // KcoD 101 alone, so its data ends the data area.
        Bytes bytes = makeResourceFile({{kKcoD, 101, filled(256, 1), ""}}, &layout);
        c.apply(bytes, layout);
        ResourceFile file;
        const ErrorCode r = file.openBytes(bytes);
        if (c.opens) {
            ASSERT_EQ(r, 0);
            EXPECT_EQ(file.getResource(kKcoD, 101), std::nullopt);
        } else {
            EXPECT_EQ(r, -EBADMSG);
            EXPECT_FALSE(file.isOpen());
        }
    }
}

TEST(ResourceFile, EveryTruncationIsHandled) {
    const Bytes whole = makeResourceFile(kSample);
    for (std::size_t n = 0; n < whole.size(); ++n) {
        ResourceFile file;
        if (file.openBytes(Bytes(whole.begin(), whole.begin() + static_cast<long>(n))) == 0) {
            for (const auto& r : kSample) {
                const auto got = file.getResource(r.type, r.id);
                if (got) {
                    EXPECT_EQ(*got, r.data);
                }
            }
        }
    }
}

}  // namespace
