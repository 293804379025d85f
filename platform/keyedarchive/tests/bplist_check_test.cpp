#include "platform/keyedarchive/bplist_check.h"

#include <gtest/gtest.h>

#include "platform/keyedarchive/keyed_archive.h"
#include "plist_builder.h"

namespace {

using vexa::archive::isWellFormedBinaryPlist;
using vexa::archive::test::rawArray;
using vexa::archive::test::rawBinaryPlist;
using Bytes = std::vector<std::uint8_t>;
using Objects = std::vector<Bytes>;

// Arrays nested `depth` deep: object i holds object i + 1.
Objects chain(std::size_t depth) {
    Objects o;
    for (std::size_t i = 0; i + 1 < depth; ++i) o.push_back(rawArray({i + 1}));
    o.push_back(rawArray({}));
    return o;
}

// `levels` arrays, each holding the next one twice: 2^levels when expanded.
Objects fanOut(std::size_t levels) {
    Objects o;
    for (std::size_t i = 0; i + 1 < levels; ++i) o.push_back(rawArray({i + 1, i + 1}));
    o.push_back(rawArray({}));
    return o;
}

TEST(BinaryPlistCheck, AcceptsOrdinaryGraphs) {
    EXPECT_TRUE(isWellFormedBinaryPlist(rawBinaryPlist(chain(16), 0)));
    EXPECT_TRUE(isWellFormedBinaryPlist(rawBinaryPlist(fanOut(12), 0)));
    // Text keys, 1-byte references.
    const Objects dict{{0xD1, 1, 2}, {0x51, 'k'}, {0x09}};
    EXPECT_TRUE(isWellFormedBinaryPlist(rawBinaryPlist(dict, 0, 1)));
    // An integer of 2^64-1 in 16 bytes, as the platform writes one above INT64_MAX.
    EXPECT_TRUE(isWellFormedBinaryPlist(
        rawBinaryPlist({{0x14, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}}, 0)));
    const auto archive = vexa::archive::archivedDataWithRootObject(vexa::archive::Dictionary{{"k", 1}});
    EXPECT_TRUE(isWellFormedBinaryPlist(archive));
}

struct Bad {
    const char* what;
    Bytes bytes;
};

Bytes withTrailerByte(Bytes b, std::size_t fromEnd, std::uint8_t v) {
    b[b.size() - fromEnd] = v;
    return b;
}

TEST(BinaryPlistCheck, RefusesWhatLibplistCannotReadSafely) {
    const Bytes good = rawBinaryPlist(chain(3), 0);
    const Bad cases[] = {
        {"empty", {}},
        {"header only", {'b', 'p', 'l', 'i', 's', 't', '0', '0'}},
        {"other magic", [&] { auto b = good; b[7] = '1'; return b; }()},
        {"nesting deeper than the limit (crashes libplist when very deep)", rawBinaryPlist(chain(200000), 0)},
        {"nesting one past the limit", rawBinaryPlist(chain(17), 0)},
        {"fan-out that expands past the budget", rawBinaryPlist(fanOut(40), 0)},
        {"array holds itself", rawBinaryPlist({rawArray({0})}, 0)},
        {"two arrays hold each other", rawBinaryPlist({rawArray({1}), rawArray({0})}, 0)},
        {"reference past the last object", rawBinaryPlist({rawArray({5})}, 0)},
        {"top object past the last", rawBinaryPlist(chain(2), 2)},
        {"set", rawBinaryPlist({{0xC0}}, 0)},
        {"null", rawBinaryPlist({{0x00}}, 0)},
        {"unknown marker", rawBinaryPlist({{0x70}}, 0)},
        {"NUL inside an ASCII key (libplist asserts on reading it)",
         rawBinaryPlist({{0xD1, 1, 2}, {0x53, 'a', 0, 'b'}, {0x09}}, 0, 1)},
        {"NUL inside a UTF-16 key", rawBinaryPlist({{0xD1, 1, 2}, {0x62, 0, 'a', 0, 0}, {0x09}}, 0, 1)},
        {"NUL inside an ASCII text that is not ASCII", rawBinaryPlist({{0x53, 'a', 0, 0xC3}}, 0)},
        {"3-byte UID", rawBinaryPlist({{0x82, 0, 0, 1}}, 0)},
        {"16-byte integer of 2^64 (libplist keeps only its low half)",
         rawBinaryPlist({{0x14, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0}}, 0)},
        {"16-byte integer of -1", rawBinaryPlist({{0x14, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                                   0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}}, 0)},
        {"data longer than the object area", rawBinaryPlist({{0x4F, 0x10, 0xFF, 1, 2}}, 0)},
        {"length of 2^64-1 elements", rawBinaryPlist({{0xAF, 0x13, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}}, 0)},
        {"integer key", rawBinaryPlist({{0xD1, 0, 0, 0, 1, 0, 0, 0, 1}, {0x10, 5}}, 0)},
        {"reference size 0", withTrailerByte(good, 25, 0)},
        {"offset size 9", withTrailerByte(good, 26, 9)},
        {"no objects", withTrailerByte(good, 17, 0)},
        {"offset table inside the trailer", withTrailerByte(good, 1, 0xF0)},
        {"offset table before the header ends", withTrailerByte(good, 1, 2)},
        {"object offset past the table", [&] { auto b = good; b[b.size() - 32 - 1] = 0xEE; return b; }()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(isWellFormedBinaryPlist(c.bytes));
        // And the whole decoder refuses it without crashing.
        EXPECT_EQ(vexa::archive::unarchiveRootObject(c.bytes), std::nullopt);
    }
}

}  // namespace

namespace {

std::string textOf(plist_t node) {
    std::uint64_t length = 0;
    const char* s = plist_get_string_ptr(node, &length);
    return s != nullptr ? std::string(s, length) : "(not a text)";
}

// libplist cuts an ASCII text at its first NUL; the readable form of a list
// holding such texts (one long enough that offsets take two bytes) gives
// libplist every text whole, beside the others.
TEST(BinaryPlistCheck, LibplistReadsTextsHoldingNulWhole) {
    const std::string longText = std::string(150, 'x') + '\0' + std::string(149, 'y');
    const std::vector<std::string> expected{std::string("a\0b", 3), std::string("\0", 1), "plain", longText,
                                            std::string("a\0b", 3), std::string("\0\xC3\xA9", 3)};
    Bytes longObject{0x5F, 0x11, 0x01, 0x2C};
    longObject.insert(longObject.end(), longText.begin(), longText.end());
    const Objects objects{rawArray({1, 2, 3, 4, 1, 5}, 1), {0x53, 'a', 0, 'b'}, {0x51, 0},
                          {0x55, 'p', 'l', 'a', 'i', 'n'}, longObject, {0x62, 0, 0, 0, 0xE9}};
    const auto readable = vexa::archive::readableBinaryPlist(rawBinaryPlist(objects, 0, 1));
    ASSERT_TRUE(readable.has_value());
    plist_t list = nullptr;
    plist_from_bin(reinterpret_cast<const char*>(readable->data()), static_cast<std::uint32_t>(readable->size()),
                   &list);
    ASSERT_NE(list, nullptr);
    std::vector<std::string> texts;
    for (std::uint32_t i = 0; i < plist_array_get_size(list); ++i) {
        texts.push_back(textOf(plist_array_get_item(list, i)));
    }
    plist_free(list);
    EXPECT_EQ(texts, expected);
    // Nothing to change: the bytes as they were.
    const Bytes plain = rawBinaryPlist({objects[3]}, 0);
    EXPECT_EQ(vexa::archive::readableBinaryPlist(plain), plain);
    // Where libplist could not read them whole, they are refused.
    EXPECT_FALSE(isWellFormedBinaryPlist(rawBinaryPlist({objects[1]}, 0), {.nulInTexts = false}));
    EXPECT_FALSE(isWellFormedBinaryPlist(rawBinaryPlist({objects[5]}, 0), {.nulInTexts = false}));
    EXPECT_TRUE(isWellFormedBinaryPlist(plain, {.nulInTexts = false}));
}

}  // namespace
