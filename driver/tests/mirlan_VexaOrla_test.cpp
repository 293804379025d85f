// The driver class's table handling, without a device.
#include "driver/mirlan_VexaOrla.h"

#include <gtest/gtest.h>
#include <systemd/sd-event.h>

#include <array>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ramp(std::size_t n) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(255 - i % 256);
    return b;
}

// Start on a node that does not exist: the base fails, the default table is
// written all the same (no input id, so the ANSI identity).
struct Started {
    mirlan_VexaOrla driver;
    Started() {
        sd_event* loop = nullptr;
        sd_event_new(&loop);
        vexa::InputLoop input(loop);
        vexa::InputProvider provider{"/nonexistent/event99", &input};
        std::fill(std::begin(driver.keymap), std::end(driver.keymap), 0xAA);
        started = driver.handleStart(&provider);
        sd_event_unref(loop);
    }
    bool started = true;
};

TEST(MirlanVexaOrla, FailedStartStillWritesTheDefaultTable) {
    Started s;
    EXPECT_FALSE(s.started);
    for (int i = 0; i < 256; ++i) ASSERT_EQ(s.driver.keymap[i], i);
}

TEST(MirlanVexaOrla, SetProperties) {
    struct Case {
        const char* what;
        vexa::PropertyDictionary in;
        vexa::IOReturn status;
        bool tableTaken;
        std::vector<std::string> keysLeft;
    };
    const std::vector<Case> cases = {
        {"256 bytes are taken and the key removed", {{"VexaKeyMap", ramp(256)}}, 0, true, {}},
        {"255 bytes are refused and left for the base", {{"VexaKeyMap", ramp(255)}}, -EOPNOTSUPP, false, {"VexaKeyMap"}},
        {"257 bytes are refused", {{"VexaKeyMap", ramp(257)}}, -EOPNOTSUPP, false, {"VexaKeyMap"}},
        {"a value that is not data is refused", {{"VexaKeyMap", std::string(256, 'x')}}, -EOPNOTSUPP, false, {"VexaKeyMap"}},
        {"no table: the base answers for the rest", {{"Other", std::int64_t{3}}}, -EOPNOTSUPP, false, {"Other"}},
        {"other keys reach the base", {{"VexaKeyMap", ramp(256)}, {"Other", std::int64_t{3}}}, -EOPNOTSUPP, true, {"Other"}},
        {"empty dictionary", {}, 0, false, {}},
    };
    for (const Case& c : cases) {
        Started s;
        vexa::PropertyDictionary dict = c.in;
        EXPECT_EQ(s.driver.setProperties(&dict), c.status) << c.what;
        std::vector<std::string> left;
        for (const auto& [key, value] : dict) left.push_back(key);
        EXPECT_EQ(left, c.keysLeft) << c.what;
        const Bytes expected = c.tableTaken ? ramp(256) : ramp(0);
        if (c.tableTaken) {
            EXPECT_TRUE(std::equal(expected.begin(), expected.end(), s.driver.keymap)) << c.what;
        } else {
            for (int i = 0; i < 256; ++i) ASSERT_EQ(s.driver.keymap[i], i) << c.what;
        }
    }
    Started s;
    EXPECT_EQ(s.driver.setProperties(nullptr), -EINVAL);
}

}  // namespace
