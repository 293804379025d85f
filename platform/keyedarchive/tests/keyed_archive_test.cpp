#include "platform/keyedarchive/keyed_archive.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

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
        {"NS.string holds data",
         [](ArchiveBuilder& b) {
             const auto cls = b.classRecord("NSString", {"NSString", "NSObject"});
             plist_t s = plist_new_dict();
             plist_dict_set_item(s, "NS.string", plist_new_data("ab", 2));
             plist_dict_set_item(s, "$class", plist_new_uid(cls));
             return b.add(b.dictObject({2}, {b.add(s)}, 1));
         }},
        {"NS.data holds text",
         [](ArchiveBuilder& b) {
             const auto cls = b.classRecord("NSData", {"NSData", "NSObject"});
             plist_t s = plist_new_dict();
             plist_dict_set_item(s, "NS.data", plist_new_string("ab"));
             plist_dict_set_item(s, "$class", plist_new_uid(cls));
             return b.add(b.dictObject({2}, {b.add(s)}, 1));
         }},
        {"NSDate without NS.time",
         [](ArchiveBuilder& b) {
             const auto cls = b.classRecord("NSDate", {"NSDate", "NSObject"});
             plist_t s = plist_new_dict();
             plist_dict_set_item(s, "$class", plist_new_uid(cls));
             return b.add(b.dictObject({2}, {b.add(s)}, 1));
         }},
        {"value is a bare UID object", [](ArchiveBuilder& b) {
             return b.add(b.dictObject({2}, {b.add(plist_new_uid(3))}, 1));
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
