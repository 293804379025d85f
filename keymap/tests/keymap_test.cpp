// Module 714: keyboard identification, default tables, lookup, comparison
// and the conversion of legacy tables.
#include "keymap/keymap.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>

extern "C" int keymap_from_c(uint8_t* entry53);

namespace {

using Table = std::array<uint8_t, 256>;

Table ansi() {
    Table t{};
    KZ714defaultOrlaANSIKeymap(t.data());
    return t;
}

Table jis() {
    Table t{};
    KZ714defaultOrlaJISKeymap(t.data());
    return t;
}

TEST(KeymapType, IdentifiesTheFourPairsOnly) {
    EXPECT_STREQ(KZ714keymapType(1138, 101), "Vexa Orla ANSI");
    EXPECT_STREQ(KZ714keymapType(1278, 6), "Vexa Orla ANSI");
    EXPECT_STREQ(KZ714keymapType(1138, 104), "Vexa Orla JIS");
    EXPECT_STREQ(KZ714keymapType(1278, 7), "Vexa Orla JIS");
    // Near misses: a vendor with the other vendor's product, neighbours, sign.
    EXPECT_EQ(KZ714keymapType(1138, 6), nullptr);
    EXPECT_EQ(KZ714keymapType(1278, 101), nullptr);
    EXPECT_EQ(KZ714keymapType(1138, 7), nullptr);
    EXPECT_EQ(KZ714keymapType(1278, 104), nullptr);
    EXPECT_EQ(KZ714keymapType(1138, 102), nullptr);
    EXPECT_EQ(KZ714keymapType(1139, 101), nullptr);
    EXPECT_EQ(KZ714keymapType(-1138, 101), nullptr);
    EXPECT_EQ(KZ714keymapType(0, 0), nullptr);
}

TEST(KeymapType, SameTypeIsTheSameConstant) {
    // Each type is one static constant (callers may keep the pointer and
    // compare it), not a literal that the compiler may or may not merge.
    EXPECT_EQ(KZ714keymapType(1138, 101), KZ714keymapType(1278, 6));
    EXPECT_EQ(KZ714keymapType(1138, 104), KZ714keymapType(1278, 7));
    EXPECT_NE(KZ714keymapType(1138, 101), KZ714keymapType(1138, 104));
}

TEST(DefaultKeymap, AnsiIsIdentity) {
    Table t;
    t.fill(0xAA);
    KZ714defaultOrlaANSIKeymap(t.data());
    for (int i = 0; i < 256; ++i) EXPECT_EQ(t[i], i) << "entry " << i;
}

TEST(DefaultKeymap, JisChangesExactlyFourEntries) {
    Table t = jis();
    Table expected = ansi();
    expected[53] = 227;
    expected[136] = 231;
    expected[138] = 144;
    expected[139] = 145;
    EXPECT_EQ(t, expected);
    EXPECT_EQ(t[0], 0) << "entry 0 stays disabled";
}

TEST(DefaultKeymap, NullIsIgnored) {
    // The operations without a result return normally for a null table.
    EXPECT_EXIT(
        {
            KZ714defaultOrlaANSIKeymap(nullptr);
            KZ714defaultOrlaJISKeymap(nullptr);
            KZ714converOldOrlaKeymap(nullptr);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(KeycodeLookup, RangeAndNull) {
    Table t = jis();
    EXPECT_EQ(KZ714keycodeFromKeymap(t.data(), 53), 227);
    EXPECT_EQ(KZ714keycodeFromKeymap(t.data(), 255), 255);
    EXPECT_EQ(KZ714keycodeFromKeymap(t.data(), 256), 0);
    EXPECT_EQ(KZ714keycodeFromKeymap(t.data(), 0xFFFFFFFFu), 0);
    EXPECT_EQ(KZ714keycodeFromKeymap(t.data(), 0x7003Au), 0) << "page-tagged usage is out of range";
    EXPECT_EQ(KZ714keycodeFromKeymap(nullptr, 4), 0);
}

TEST(CompareKeymap, EqualityAndNull) {
    Table a = ansi();
    Table b = ansi();
    EXPECT_TRUE(KZ714compareKeymap(a.data(), a.data()));
    EXPECT_TRUE(KZ714compareKeymap(a.data(), b.data()));
    b[255] = 0;  // last byte counts
    EXPECT_FALSE(KZ714compareKeymap(a.data(), b.data()));
    b = a;
    b[0] = 1;  // first byte counts
    EXPECT_FALSE(KZ714compareKeymap(a.data(), b.data()));
    EXPECT_FALSE(KZ714compareKeymap(a.data(), nullptr));
    EXPECT_FALSE(KZ714compareKeymap(nullptr, a.data()));
    EXPECT_FALSE(KZ714compareKeymap(nullptr, nullptr));
}

TEST(LegacyConversion, AllNoKeyLeavesOnlyForcedIdentity) {
    Table t;
    t.fill(255);
    KZ714converOldOrlaKeymap(t.data());
    for (int i = 0; i < 256; ++i) {
        const bool forced = i == 49 || i == 102 || i == 111 || i == 127 || i == 128 || i == 129;
        EXPECT_EQ(t[i], forced ? i : 0) << "entry " << i;
    }
}

TEST(LegacyConversion, MapsThroughLegacyCodes) {
    Table t;
    t.fill(128);  // 128 and above: no key
    t[4] = 0;     // legacy A
    t[5] = 63;    // legacy code without a usage
    t[6] = 36;    // legacy Return
    t[7] = 53;    // legacy Escape
    t[8] = 127;   // last table entry
    t[9] = 55;    // legacy Command
    t[49] = 0;    // forced back to identity afterwards
    KZ714converOldOrlaKeymap(t.data());
    EXPECT_EQ(t[4], 4);
    EXPECT_EQ(t[5], 0);
    EXPECT_EQ(t[6], 40);
    EXPECT_EQ(t[7], 41);
    EXPECT_EQ(t[8], 102);
    EXPECT_EQ(t[9], 227);
    EXPECT_EQ(t[49], 49);
    EXPECT_EQ(t[10], 0);
}

TEST(LegacyConversion, EveryRowOfTheConversionTable) {
    // Two legacy codes from each row of sixteen, each at an index that is
    // not forced back to the identity: first and last columns, inner ones,
    // and codes without a usage.
    const std::pair<int, int> samples[] = {
        {10, 100}, {15, 21},    // 0-15
        {16, 28},  {31, 18},    // 16-31
        {39, 52},  {47, 55},    // 32-47
        {54, 231}, {63, 0},     // 48-63
        {72, 128}, {77, 111},   // 64-79
        {80, 0},   {93, 137},   // 80-95
        {102, 145}, {108, 0},   // 96-111
        {112, 0},  {126, 82},   // 112-127
    };
    Table t;
    t.fill(200);
    int index = 10;
    for (auto [code, usage] : samples) t[index++] = static_cast<uint8_t>(code);
    KZ714converOldOrlaKeymap(t.data());
    index = 10;
    for (auto [code, usage] : samples) EXPECT_EQ(t[index++], usage) << "legacy code " << code;
}

TEST(LegacyConversion, IsNotIdempotent) {
    Table once;
    for (int i = 0; i < 256; ++i) once[i] = static_cast<uint8_t>(i);
    KZ714converOldOrlaKeymap(once.data());
    Table twice = once;
    KZ714converOldOrlaKeymap(twice.data());
    EXPECT_NE(once, twice);
    // Index 0 held legacy code 0 (A, usage 4); the second pass reads 4 as
    // legacy code 4 (H, usage 11).
    EXPECT_EQ(once[0], 4);
    EXPECT_EQ(twice[0], 11);
}

TEST(CInterface, HeaderCompilesAsC) {
    uint8_t entry53 = 0;
    EXPECT_EQ(keymap_from_c(&entry53), 1);
    EXPECT_EQ(entry53, 227);
}

}  // namespace
