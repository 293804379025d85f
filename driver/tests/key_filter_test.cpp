#include "driver/key_filter.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace {

using vexa::HidUsage;

std::array<uint8_t, 256> identity() {
    std::array<uint8_t, 256> t{};
    KZ714defaultOrlaANSIKeymap(t.data());
    return t;
}

struct Case {
    const char* what;
    int tableIndex;  // -1: table unchanged
    uint8_t tableValue;
    HidUsage in;
    std::optional<HidUsage> out;
};

TEST(KeyFilter, Scenarios) {
    const std::vector<Case> cases = {
        {"remapped", 4, 5, {7, 4}, HidUsage{7, 5}},
        {"disabled key is dropped", 4, 0, {7, 4}, std::nullopt},
        {"value 111 becomes consumer eject", 4, 111, {7, 4}, HidUsage{12, 0xB8}},
        {"usage 111 itself becomes eject", -1, 0, {7, 111}, HidUsage{12, 0xB8}},
        {"usage above 255 passes unchanged", -1, 0, {7, 300}, HidUsage{7, 300}},
        {"consumer page passes unchanged", 0xB8, 0, {12, 0xB8}, HidUsage{12, 0xB8}},
        {"other pages pass unchanged", 4, 0, {1, 4}, HidUsage{1, 4}},
        {"usage 0 is dropped by the default table", -1, 0, {7, 0}, std::nullopt},
        {"last entry", 255, 4, {7, 255}, HidUsage{7, 4}},
    };
    for (const Case& c : cases) {
        auto table = identity();
        if (c.tableIndex >= 0) table[static_cast<size_t>(c.tableIndex)] = c.tableValue;
        EXPECT_EQ(vexa::filterKeyboardEvent(table.data(), c.in), c.out) << c.what;
    }
}

TEST(KeyFilter, JisDefaults) {
    std::array<uint8_t, 256> t{};
    KZ714defaultOrlaJISKeymap(t.data());
    EXPECT_EQ(vexa::filterKeyboardEvent(t.data(), {7, 0x35}), (HidUsage{7, 0xE3}));
    EXPECT_EQ(vexa::filterKeyboardEvent(t.data(), {7, 0x88}), (HidUsage{7, 0xE7}));
    EXPECT_EQ(vexa::filterKeyboardEvent(t.data(), {7, 0x8A}), (HidUsage{7, 0x90}));
    EXPECT_EQ(vexa::filterKeyboardEvent(t.data(), {7, 0x8B}), (HidUsage{7, 0x91}));
}

}  // namespace
