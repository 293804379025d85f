// Objects the decoder does not interpret: kept beside the tables, written back with what they reference and
// shared as before, and compared by their object graph.
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

Data table(std::uint8_t seed) {
    Data d(256);
    for (std::size_t i = 0; i < d.size(); ++i) d[i] = static_cast<std::uint8_t>(seed + i);
    return d;
}

// An archive whose root holds a table and the foreign value twice: under
// "x" and, inside "VexaKeyMap", under "x-inner" (one object, referenced twice).
Dictionary decodeBesideTable(const Build& foreign) {
    ArchiveBuilder b;
    const auto dictClass = b.classRecord("NSDictionary", {"NSDictionary", "NSObject"});
    const auto value = foreign(b);
    const auto inner = b.add(b.dictObject({b.string("Vexa Orla ANSI"), b.string("x-inner")}, {b.data(table(1)), value},
                                          dictClass));
    const auto root = b.add(b.dictObject({b.string("VexaKeyMap"), b.string("x")}, {inner, value}, dictClass));
    auto decoded = unarchiveRootObject(b.finish(root));
    if (!decoded || decoded->get<Dictionary>() == nullptr) return {};
    return *decoded->get<Dictionary>();
}

// Objects in an archive whose class record is named `name`.
int objectsOfClass(const std::vector<std::uint8_t>& archive, const char* name) {
    plist_t parsed = nullptr;
    plist_from_bin(reinterpret_cast<const char*>(archive.data()), static_cast<std::uint32_t>(archive.size()), &parsed);
    plist_t objects = plist_dict_get_item(parsed, "$objects");
    int found = 0;
    for (std::uint32_t i = 0; i < plist_array_get_size(objects); ++i) {
        plist_t cls = plist_dict_get_item(plist_array_get_item(objects, i), "$class");
        if (cls == nullptr) continue;
        std::uint64_t uid = 0;
        plist_get_uid_val(cls, &uid);
        plist_t record = plist_array_get_item(objects, static_cast<std::uint32_t>(uid));
        found += plist_string_val_compare(plist_dict_get_item(record, "$classname"), name) == 0;
    }
    plist_free(parsed);
    return found;
}

struct ForeignKind {
    const char* what;
    Build build;
    const char* className;  // its class, when it has one
    int objects;            // objects of that class the written archive must hold
};

TEST(ForeignObjects, SurviveBesideTheTablesAndStayShared) {
    const ForeignKind kinds[] = {
        {"NSNull", nsNull, "NSNull", 1},
        {"NSURL", [](ArchiveBuilder& b) { return url(b, "https://example.org/a?b=1"); }, "NSURL", 1},
        {"NSUUID",
         [](ArchiveBuilder& b) {
             return b.add(b.object({{"NS.uuidbytes", plist_new_data("0123456789abcdef", 16)}}, classOf(b, "NSUUID")));
         },
         "NSUUID", 1},
        {"NSSet holding a text, a number and an NSNull",
         [](ArchiveBuilder& b) { return set(b, {b.string("a"), b.add(plist_new_uint(7)), nsNull(b)}); }, "NSSet", 1},
        {"NSNumber of 2^64-1", [](ArchiveBuilder& b) { return b.wideInteger(UINT64_MAX); }, nullptr, 0},
        {"NSNumber of 2^63", [](ArchiveBuilder& b) { return b.wideInteger(std::uint64_t{1} << 63); }, nullptr, 0},
        {"NSString subclass",
         [](ArchiveBuilder& b) {
             const auto cls = b.classRecord("VXString", {"VXString", "NSMutableString", "NSString", "NSObject"});
             return b.add(b.object({{"NS.string", plist_new_string("x")}}, cls));
         },
         "VXString", 1},
        {"objects of another program that reference each other", ring, "VXNode", 2},
        {"dictionary with a number key and a data key",
         [](ArchiveBuilder& b) {
             const auto cls = b.classRecord("NSDictionary", {"NSDictionary", "NSObject"});
             return b.add(b.dictObject({b.add(plist_new_uint(7)), b.data({1, 2})}, {b.string("seven"), nsNull(b)}, cls));
         },
         "NSNull", 1},
    };
    for (const auto& kind : kinds) {
        SCOPED_TRACE(kind.what);
        Dictionary root = decodeBesideTable(kind.build);
        const Value* x = root.find("x");
        ASSERT_NE(x, nullptr);
        const auto* keymaps = root.find("VexaKeyMap")->get<Dictionary>();
        ASSERT_NE(keymaps, nullptr);
        EXPECT_EQ(*keymaps->find("Vexa Orla ANSI"), Value(table(1)));
        EXPECT_EQ(*keymaps->find("x-inner"), *x);
        if (const auto* dict = x->get<Dictionary>()) {
            EXPECT_EQ(dict->size(), 2u);
            EXPECT_EQ(dict->otherEntries().size(), 2u);
        } else {
            EXPECT_NE(x->get<Opaque>(), nullptr);
        }

        // The editor's update: a new table, everything else written back.
        const Value original = *x;
        Dictionary updated = *keymaps;
        updated.set("Vexa Orla ANSI", table(2));
        root.set("VexaKeyMap", updated);
        const auto archive = archivedDataWithRootObject(root);
        ASSERT_FALSE(archive.empty());
        const auto reread = unarchiveRootObject(archive);
        ASSERT_TRUE(reread.has_value());
        EXPECT_EQ(*reread, Value(root));
        const auto* again = reread->get<Dictionary>();
        EXPECT_EQ(*again->find("x"), original);
        EXPECT_EQ(*again->find("VexaKeyMap")->get<Dictionary>()->find("Vexa Orla ANSI"), Value(table(2)));
        if (kind.className != nullptr) {
            EXPECT_EQ(objectsOfClass(archive, kind.className), kind.objects);
        }
    }
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
