// Objects the decoder does not interpret: compared by their whole graph, refused when they cannot be written back.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string_view>

#include "platform/keyedarchive/keyed_archive.h"
#include "plist_builder.h"

namespace {

using namespace vexa::archive;
using vexa::archive::test::ArchiveBuilder;
using vexa::archive::test::uidArray;
using Build = std::function<std::uint64_t(ArchiveBuilder&)>;

std::uint64_t classOf(ArchiveBuilder& b, const char* name) { return b.classRecord(name, {name, "NSObject"}); }

std::uint64_t nsNull(ArchiveBuilder& b) { return b.add(b.object({}, classOf(b, "NSNull"))); }

std::uint64_t url(ArchiveBuilder& b, const char* text) {
    const auto relative = b.string(text);
    return b.add(b.object({{"NS.base", plist_new_uid(0)}, {"NS.relative", plist_new_uid(relative)}}, classOf(b, "NSURL")));
}

// A set holding the given objects.
std::uint64_t set(ArchiveBuilder& b, std::initializer_list<std::uint64_t> members) {
    return b.add(b.object({{"NS.objects", uidArray(members)}}, classOf(b, "NSSet")));
}

// Two objects of another program's class that reference each other.
std::uint64_t ring(ArchiveBuilder& b) {
    const auto cls = classOf(b, "VXNode");
    const auto first = b.next();
    b.add(b.object({{"next", plist_new_uid(first + 1)}, {"name", plist_new_string("a")}}, cls));
    b.add(b.object({{"next", plist_new_uid(first)}, {"count", plist_new_uint(static_cast<std::uint64_t>(-5))},
                    {"ratio", plist_new_real(0.1)}},
                   cls));
    return first;
}

TEST(ForeignObjects, CompareByTheirWholeGraph) {
    const struct {
        const char* what;
        Build a, b;
        bool equal;
    } cases[] = {
        {"NSNull and NSNull", nsNull, nsNull, true},
        {"NSURLs of one text", [](ArchiveBuilder& b) { return url(b, "a"); },
         [](ArchiveBuilder& b) { return url(b, "a"); }, true},
        {"NSURLs of other texts", [](ArchiveBuilder& b) { return url(b, "a"); },
         [](ArchiveBuilder& b) { return url(b, "b"); }, false},
        {"NSNull and an object of another class", nsNull,
         [](ArchiveBuilder& b) { return b.add(b.object({}, classOf(b, "NSNil"))); }, false},
        {"16-byte 5 and 16-byte 5", [](ArchiveBuilder& b) { return b.wideInteger(5); },
         [](ArchiveBuilder& b) { return b.wideInteger(5); }, true},
        {"2^64-1 and 2^64-2", [](ArchiveBuilder& b) { return b.wideInteger(UINT64_MAX); },
         [](ArchiveBuilder& b) { return b.wideInteger(UINT64_MAX - 1); }, false},
        {"one NSNull twice and two NSNulls",
         [](ArchiveBuilder& b) {
             const auto null = nsNull(b);
             return set(b, {null, null});
         },
         [](ArchiveBuilder& b) { return set(b, {nsNull(b), nsNull(b)}); }, false},
        {"rings alike", ring, ring, true},
    };
    auto decode = [](const Build& build) {
        ArchiveBuilder b;
        const auto value = build(b);
        const auto cls = b.classRecord("NSDictionary", {"NSDictionary", "NSObject"});
        return unarchiveRootObject(b.finish(b.add(b.dictObject({b.string("x")}, {value}, cls))));
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto a = decode(c.a);
        const auto b = decode(c.b);
        ASSERT_TRUE(a.has_value() && b.has_value());
        EXPECT_EQ(*a == *b, c.equal);
        EXPECT_EQ(*b == *a, c.equal);
    }
    // A 16-byte integer is not the 8-byte integer of the same value.
    const auto wide = decode([](ArchiveBuilder& b) { return b.wideInteger(5); });
    ASSERT_TRUE(wide.has_value());
    EXPECT_NE(*wide->get<Dictionary>()->find("x"), Value(5));
}

// A binary property list can name one key twice inside an object; readers
// disagree on which value counts, so the file is refused rather than
// written back as something else.
TEST(ForeignObjects, AnObjectNamingAKeyTwiceIsRefused) {
    ArchiveBuilder b;
    const auto cls = b.classRecord("NSDictionary", {"NSDictionary", "NSObject"});
    const auto other = classOf(b, "VXThing");
    const auto thing = b.add(b.object({{"name", plist_new_string("a")}, {"namf", plist_new_string("b")}}, other));
    auto archive = b.finish(b.add(b.dictObject({b.string("x")}, {thing}, cls)));
    ASSERT_TRUE(unarchiveRootObject(archive).has_value());
    const std::string_view renamed("namf");
    const auto at = std::search(archive.begin(), archive.end(), renamed.begin(), renamed.end());
    ASSERT_NE(at, archive.end());
    at[3] = 'e';
    EXPECT_EQ(unarchiveRootObject(archive), std::nullopt);
}

}  // namespace
