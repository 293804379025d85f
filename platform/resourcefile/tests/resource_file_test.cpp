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

const std::vector<TestResource> kSample = {
    {kKcoD, 101, filled(256, 1), ""},
    {kDSsw, 128, {0, 1, 0, 2, 0, 1, 0, 0}, "DIP switches"},
    {kKcoD, 104, filled(256, 2), "JIS"},
    {kKcoD, -5, {}, ""},
};

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
