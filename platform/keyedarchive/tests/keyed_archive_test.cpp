#include "platform/keyedarchive/keyed_archive.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <string_view>

#include "plist_builder.h"

namespace {

using namespace vexa::archive;
using vexa::archive::test::ArchiveBuilder;
using vexa::archive::test::uidArray;

Data bytes(std::size_t n, std::uint8_t seed) {
    Data d(n);
    for (std::size_t i = 0; i < n; ++i) d[i] = static_cast<std::uint8_t>(seed + i * 13);
    return d;
}

// Every kind of value, nested, as another program may keep in the root.
Dictionary everyKind() {
    return Dictionary{
        {"VexaKeyMap", Dictionary{{"Vexa Orla ANSI", bytes(256, 1)}, {"Vexa Orla JIS", bytes(256, 2)}}},
        {"text", "Größe ✓"},
        {"empty text", ""},
        {"empty data", Data{}},
        {"negative", std::int64_t{-42}},
        {"big", std::numeric_limits<std::int64_t>::max()},
        {"real", 3.25},
        {"nan", std::nan("")},
        {"yes", true},
        {"no", false},
        {"when", Date{7.5e8}},
        {"list", Array{1, "two", Array{}, Dictionary{{"k", 3}}}},
        {"nested", Dictionary{{"a", Dictionary{{"b", Dictionary{}}}}}},
    };
}

Value nested(unsigned containers) {
    Value v = 1;
    for (unsigned i = 0; i < containers; ++i) v = (i % 2 == 0) ? Value(Dictionary{{"x", v}}) : Value(Array{v});
    return v;
}

TEST(KeyedArchive, RoundTripsEveryKindOfValue) {
    const Dictionary root = everyKind();
    const auto archive = archivedDataWithRootObject(root);
    ASSERT_FALSE(archive.empty());
    const auto decoded = unarchiveRootObject(archive);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(*decoded, Value(root));
}

TEST(KeyedArchive, NestingLimitIsTheSameForWritingAndReading) {
    EXPECT_EQ(unarchiveRootObject(archivedDataWithRootObject(nested(kMaxObjectDepth))), nested(kMaxObjectDepth));
    EXPECT_TRUE(archivedDataWithRootObject(nested(kMaxObjectDepth + 1)).empty());

    // A hand-made chain one level deeper than allowed is refused on reading.
    ArchiveBuilder b;
    const auto cls = b.classRecord("NSDictionary", {"NSDictionary", "NSObject"});
    const auto key = b.string("x");
    const auto leaf = b.add(plist_new_uint(1));
    std::uint64_t inner = leaf;
    for (unsigned i = 0; i <= kMaxObjectDepth; ++i) inner = b.add(b.dictObject({key}, {inner}, cls));
    EXPECT_EQ(unarchiveRootObject(b.finish(inner)), std::nullopt);
}

TEST(KeyedArchive, RefusesTextsItCannotWriteFaithfully) {
    EXPECT_TRUE(archivedDataWithRootObject(Dictionary{{"k", std::string("a\0b", 3)}}).empty());
    EXPECT_TRUE(archivedDataWithRootObject(Dictionary{{"k", "\xC3"}}).empty());
    EXPECT_TRUE(archivedDataWithRootObject(Dictionary{{"\xFF", 1}}).empty());
    EXPECT_TRUE(archivedDataWithRootObject(Dictionary{{"k", "\xED\xA0\x80"}}).empty());  // a UTF-16 surrogate
}

// What the platform's archiver writes in cases our writer does not produce.
TEST(KeyedArchive, ReadsThePlatformsOtherForms) {
    ArchiveBuilder b;
    const auto dictClass = b.classRecord("NSDictionary", {"NSDictionary", "NSObject"});
    const auto stringClass = b.classRecord("NSMutableString", {"NSMutableString", "NSString", "NSObject"});
    const auto dataClass = b.classRecord("NSMutableData", {"NSMutableData", "NSData", "NSObject"});
    const auto arrayClass = b.classRecord("NSArray", {"NSArray", "NSObject"});

    plist_t keyObject = plist_new_dict();
    plist_dict_set_item(keyObject, "NS.string", plist_new_string("Vexa Orla ANSI"));
    plist_dict_set_item(keyObject, "$class", plist_new_uid(stringClass));
    const auto ansiKey = b.add(keyObject);
    plist_t dataObject = plist_new_dict();
    const Data table = bytes(256, 9);
    plist_dict_set_item(dataObject, "NS.data", plist_new_data(reinterpret_cast<const char*>(table.data()), 256));
    plist_dict_set_item(dataObject, "$class", plist_new_uid(dataClass));
    const auto ansiData = b.add(dataObject);
    const auto jisKey = b.string("Vexa Orla JIS");
    const auto shared = b.data(bytes(256, 4));
    // The same data object under two keys, and the same inner dictionary twice.
    const auto inner = b.add(b.dictObject({ansiKey, jisKey}, {ansiData, shared}, dictClass));
    const auto list = b.add(b.arrayObject({shared, shared, inner}, arrayClass));
    const auto mapKey = b.string("VexaKeyMap");
    const auto copyKey = b.string("copy");
    const auto listKey = b.string("list");
    const auto root = b.add(b.dictObject({mapKey, copyKey, listKey}, {inner, inner, list}, dictClass));

    const Dictionary innerValue{{"Vexa Orla ANSI", table}, {"Vexa Orla JIS", bytes(256, 4)}};
    const Dictionary expected{{"VexaKeyMap", innerValue},
                              {"copy", innerValue},
                              {"list", Array{bytes(256, 4), bytes(256, 4), innerValue}}};
    EXPECT_EQ(unarchiveRootObject(b.finish(root)), Value(expected));
}

struct BadArchive {
    const char* what;
    // Builds the archive; `b` already holds a valid NSDictionary class record
    // at index 1 and the texts "k" at 2 and "v" at 3. Returns the root index.
    std::function<std::uint64_t(ArchiveBuilder& b)> build;
};

TEST(KeyedArchive, RefusesMalformedGraphs) {
    const BadArchive cases[] = {
        {"root is the $null object", [](ArchiveBuilder&) { return 0; }},
        {"root UID past the end", [](ArchiveBuilder& b) { return b.next() + 5; }},
        {"root is a class record", [](ArchiveBuilder&) { return 1; }},
        {"$archiver missing",
         [](ArchiveBuilder& b) {
             plist_dict_remove_item(b.top(), "$archiver");
             return b.add(b.dictObject({2}, {3}, 1));
         }},
        {"$archiver of another archiver",
         [](ArchiveBuilder& b) {
             plist_dict_set_item(b.top(), "$archiver", plist_new_string("NSArchiver"));
             return b.add(b.dictObject({2}, {3}, 1));
         }},
        {"$version is text",
         [](ArchiveBuilder& b) {
             plist_dict_set_item(b.top(), "$version", plist_new_string("100000"));
             return b.add(b.dictObject({2}, {3}, 1));
         }},
        {"$top without root",
         [](ArchiveBuilder& b) {
             plist_dict_set_item(b.top(), "$top", plist_new_dict());
             return b.add(b.dictObject({2}, {3}, 1));
         }},
        {"$top root is an integer, not a UID",
         [](ArchiveBuilder& b) {
             const auto root = b.add(b.dictObject({2}, {3}, 1));
             plist_t top = plist_new_dict();
             plist_dict_set_item(top, "root", plist_new_uint(root));
             plist_dict_set_item(b.top(), "$top", top);
             return root;
         }},
        {"$objects does not start with $null",
         [](ArchiveBuilder& b) {
             b.replace(0, plist_new_string("null"));
             return b.add(b.dictObject({2}, {3}, 1));
         }},
        {"$objects is a dictionary",
         [](ArchiveBuilder& b) {
             plist_dict_set_item(b.top(), "$objects", plist_new_dict());
             return 1;
         }},
        {"class record without $classname", [](ArchiveBuilder& b) {
             plist_t record = plist_new_dict();
             plist_dict_set_item(record, "$classes", plist_new_array());
             return b.add(b.dictObject({2}, {3}, b.add(record)));
         }},
        {"object of another class references past the end", [](ArchiveBuilder& b) {
             const auto cls = b.classRecord("NSURL", {"NSURL", "NSObject"});
             const auto url = b.add(b.object({{"NS.base", plist_new_uid(0)}, {"NS.relative", plist_new_uid(4000)}}, cls));
             return b.add(b.dictObject({2}, {url}, 1));
         }},
        {"object of another class reached through another references past the end", [](ArchiveBuilder& b) {
             const auto cls = b.classRecord("NSSet", {"NSSet", "NSObject"});
             const auto inner = b.add(b.object({{"NS.objects", uidArray({3, 4000})}}, cls));
             const auto outer = b.add(b.object({{"NS.objects", uidArray({inner})}}, cls));
             return b.add(b.dictObject({2}, {outer}, 1));
         }},
        {"object of another class holds a bare date", [](ArchiveBuilder& b) {
             const auto cls = b.classRecord("Later", {"Later", "NSObject"});
             const auto later = b.add(b.object({{"when", plist_new_date(1, 0)}}, cls));
             return b.add(b.dictObject({2}, {later}, 1));
         }},
        {"$class is not a UID",
         [](ArchiveBuilder& b) {
             plist_t d = b.dictObject({2}, {3}, 1);
             plist_dict_set_item(d, "$class", plist_new_uint(1));
             return b.add(d);
         }},
        {"$class points past the end", [](ArchiveBuilder& b) { return b.add(b.dictObject({2}, {3}, 999)); }},
        {"$class points at a text", [](ArchiveBuilder& b) { return b.add(b.dictObject({2}, {3}, 2)); }},
        {"NS.keys is not an array",
         [](ArchiveBuilder& b) {
             plist_t d = b.dictObject({2}, {3}, 1);
             plist_dict_set_item(d, "NS.keys", plist_new_uid(2));
             return b.add(d);
         }},
        {"NS.keys holds a text instead of a UID",
         [](ArchiveBuilder& b) {
             plist_t d = b.dictObject({}, {3}, 1);
             plist_t keys = plist_new_array();
             plist_array_append_item(keys, plist_new_string("k"));
             plist_dict_set_item(d, "NS.keys", keys);
             return b.add(d);
         }},
        {"more objects than keys", [](ArchiveBuilder& b) { return b.add(b.dictObject({2}, {3, 3}, 1)); }},
        {"value is $null", [](ArchiveBuilder& b) { return b.add(b.dictObject({2}, {0}, 1)); }},
        {"value UID past the end", [](ArchiveBuilder& b) { return b.add(b.dictObject({2}, {4000}, 1)); }},
        {"dictionary holds itself",
         [](ArchiveBuilder& b) {
             const auto self = b.next();
             return b.add(b.dictObject({2}, {self}, 1));
         }},
        {"two dictionaries hold each other",
         [](ArchiveBuilder& b) {
             const auto first = b.next();
             b.add(b.dictObject({2}, {first + 1}, 1));
             b.add(b.dictObject({2}, {first}, 1));
             return first;
         }},
        {"array holds itself",
         [](ArchiveBuilder& b) {
             const auto cls = b.classRecord("NSMutableArray", {"NSMutableArray", "NSArray", "NSObject"});
             const auto self = b.next();
             return b.add(b.arrayObject({self}, cls));
         }},
        {"fan-out past the expansion budget",
         [](ArchiveBuilder& b) {
             // 24 arrays, each holding the next one twice: 2^24 objects expanded.
             const auto cls = b.classRecord("NSArray", {"NSArray", "NSObject"});
             std::uint64_t inner = 3;
             for (int i = 0; i < 24; ++i) inner = b.add(b.arrayObject({inner, inner}, cls));
             return inner;
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ArchiveBuilder b;
        ASSERT_EQ(b.classRecord("NSDictionary", {"NSDictionary", "NSObject"}), 1u);
        ASSERT_EQ(b.string("k"), 2u);
        ASSERT_EQ(b.string("v"), 3u);
        const auto root = c.build(b);
        EXPECT_EQ(unarchiveRootObject(b.finish(root)), std::nullopt);
    }
}

// Texts in which withNul turns each '#' into a NUL.
const char* const kMarked[] = {"nul#text#", "#nul#long text, longer than 15#", "#nul#string"};

// The archive with the texts of kMarked holding NULs (libplist makes no
// text holding a NUL; it writes ASCII texts as they are).
std::vector<std::uint8_t> withNul(std::vector<std::uint8_t> archive) {
    for (const std::string_view marked : kMarked) {
        for (auto at = archive.begin();
             (at = std::search(at, archive.end(), marked.begin(), marked.end())) != archive.end();
             at += static_cast<std::ptrdiff_t>(marked.size())) {
            std::replace(at, at + static_cast<std::ptrdiff_t>(marked.size()), std::uint8_t{'#'}, std::uint8_t{0});
        }
    }
    return archive;
}

// A damaged object kept as an opaque value beside what the caller reads, and
// written back as it was; where the caller reads it, the archive is refused.
TEST(KeyedArchive, KeepsDamagedObjectsUnlessTheCallerReadsThem) {
    // Each builds a damaged object; `b` holds an NSDictionary class record at 1.
    const BadArchive cases[] = {
        {"text holding a NUL", [](ArchiveBuilder& b) { return b.string(kMarked[0]); }},
        {"long text holding NULs", [](ArchiveBuilder& b) { return b.string(kMarked[1]); }},
        {"NSString whose NS.string holds a NUL",
         [](ArchiveBuilder& b) {
             const auto cls = b.classRecord("NSString", {"NSString", "NSObject"});
             return b.add(b.object({{"NS.string", plist_new_string(kMarked[2])}}, cls));
         }},
        {"NSString without NS.string",
         [](ArchiveBuilder& b) {
             const auto cls = b.classRecord("NSMutableString", {"NSMutableString", "NSString", "NSObject"});
             return b.add(b.object({{"NS.bytes", plist_new_data("ab", 2)}}, cls));
         }},
        {"NS.string holds data",
         [](ArchiveBuilder& b) {
             const auto cls = b.classRecord("NSString", {"NSString", "NSObject"});
             return b.add(b.object({{"NS.string", plist_new_data("ab", 2)}}, cls));
         }},
        {"NS.data holds text",
         [](ArchiveBuilder& b) {
             const auto cls = b.classRecord("NSData", {"NSData", "NSObject"});
             return b.add(b.object({{"NS.data", plist_new_string("ab")}}, cls));
         }},
        {"NSDate without NS.time",
         [](ArchiveBuilder& b) { return b.add(b.object({}, b.classRecord("NSDate", {"NSDate", "NSObject"}))); }},
        {"NSDictionary whose NS.keys and NS.objects differ in length",
         [](ArchiveBuilder& b) { return b.add(b.dictObject({b.string("a"), b.string("b")}, {b.string("c")}, 1)); }},
        {"NSDictionary holding $null", [](ArchiveBuilder& b) { return b.add(b.dictObject({b.string("a")}, {0}, 1)); }},
        {"NSDictionary holding a number where a UID belongs",
         [](ArchiveBuilder& b) {
             plist_t d = b.dictObject({b.string("a")}, {}, 1);
             plist_t objects = plist_new_array();
             plist_array_append_item(objects, plist_new_uint(7));
             plist_dict_set_item(d, "NS.objects", objects);
             return b.add(d);
         }},
        {"NSArray without NS.objects",
         [](ArchiveBuilder& b) { return b.add(b.object({}, b.classRecord("NSArray", {"NSArray", "NSObject"}))); }},
        {"class record without $classname",
         [](ArchiveBuilder& b) {
             plist_t record = plist_new_dict();
             plist_dict_set_item(record, "$classes", plist_new_array());
             return b.add(b.dictObject({}, {}, b.add(record)));
         }},
        {"bare UID object", [](ArchiveBuilder& b) { return b.add(plist_new_uid(1)); }},
        {"bare array object", [](ArchiveBuilder& b) { return b.add(uidArray({1})); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // root {"x": damaged, "y": {"z": damaged}}
        ArchiveBuilder b;
        ASSERT_EQ(b.classRecord("NSDictionary", {"NSDictionary", "NSObject"}), 1u);
        const auto damaged = c.build(b);
        const auto inner = b.add(b.dictObject({b.string("z")}, {damaged}, 1));
        const auto top = b.add(b.dictObject({b.string("x"), b.string("y")}, {damaged, inner}, 1));
        const auto archive = withNul(b.finish(top));

        const auto decoded = unarchiveRootObject(archive);
        ASSERT_TRUE(decoded.has_value());
        const Dictionary* root = decoded->get<Dictionary>();
        ASSERT_NE(root, nullptr);
        const Value* x = root->find("x");
        const Value* y = root->find("y");
        ASSERT_TRUE(x != nullptr && y != nullptr && y->get<Dictionary>() != nullptr);
        EXPECT_NE(x->get<Opaque>(), nullptr);
        EXPECT_EQ(*y, Value(Dictionary{{"z", *x}}));
        const auto again = archivedDataWithRootObject(*decoded);
        ASSERT_FALSE(again.empty());
        EXPECT_EQ(unarchiveRootObject(again), decoded);

        // Read along a path: damage on it refuses the archive, off it does not.
        const KeyPath onX[] = {{"x"}}, onZ[] = {{"y", "z"}}, onY[] = {{"y"}}, elsewhere[] = {{"x", "w"}, {"v"}};
        EXPECT_EQ(unarchiveRootObject(archive, onX), std::nullopt);
        EXPECT_EQ(unarchiveRootObject(archive, onZ), std::nullopt);
        EXPECT_EQ(unarchiveRootObject(archive, onY), decoded);
        EXPECT_EQ(unarchiveRootObject(again, onY), decoded);
        EXPECT_EQ(unarchiveRootObject(archive, elsewhere), std::nullopt);
        EXPECT_EQ(unarchiveRootObject(archive, std::span<const KeyPath>(elsewhere + 1, 1)), decoded);
        // And the damaged object as the root: refused.
        ArchiveBuilder alone;
        ASSERT_EQ(alone.classRecord("NSDictionary", {"NSDictionary", "NSObject"}), 1u);
        EXPECT_EQ(unarchiveRootObject(withNul(alone.finish(c.build(alone)))), std::nullopt);
    }
}

TEST(KeyedArchive, RefusesAnXmlPropertyListOfAValidArchive) {
    ArchiveBuilder b;
    const auto cls = b.classRecord("NSDictionary", {"NSDictionary", "NSObject"});
    const auto root = b.add(b.dictObject({b.string("k")}, {b.string("v")}, cls));
    const auto binary = b.finish(root);
    ASSERT_TRUE(unarchiveRootObject(binary).has_value());
    char* xml = nullptr;
    std::uint32_t length = 0;
    plist_to_xml(b.top(), &xml, &length);
    const std::vector<std::uint8_t> xmlBytes(xml, xml + length);
    plist_to_xml_free(xml);
    EXPECT_EQ(unarchiveRootObject(xmlBytes), std::nullopt);
}

// Damage of every kind at every position of a real archive: never a crash
// (the sanitizers watch), and a damaged archive never decodes to garbage
// that cannot be written back.
TEST(KeyedArchive, SurvivesEveryTruncationAndByteChange) {
    const auto archive = archivedDataWithRootObject(everyKind());
    ASSERT_FALSE(archive.empty());
    auto probe = [](std::span<const std::uint8_t> bytes) {
        const auto decoded = unarchiveRootObject(bytes);
        if (decoded) {
            EXPECT_FALSE(archivedDataWithRootObject(*decoded).empty());
        }
    };
    for (std::size_t n = 0; n < archive.size(); ++n) probe(std::span(archive).first(n));
    for (std::size_t i = 0; i < archive.size(); ++i) {
        for (std::uint8_t v : {std::uint8_t{0x00}, std::uint8_t{0xFF}, std::uint8_t{0x7F},
                               static_cast<std::uint8_t>(archive[i] ^ 0x01), static_cast<std::uint8_t>(archive[i] + 1)}) {
            auto damaged = archive;
            damaged[i] = v;
            probe(damaged);
        }
    }
}

}  // namespace
