// Tests which HID devices a set of matching criteria takes, and the reading of the kernel's HID_ID.
#include "platform/hid/device_match.h"

#include <gtest/gtest.h>

namespace vexa::hid {
namespace {

const DeviceFacts kOrlaJIS{0x04FE, 0x0007, {0x10006}};
const DeviceFacts kMouse{0x046D, 0xC077, {0x10002}};
const DeviceFacts kKeyboardWithMediaKeys{0x1234, 0x5678, {0x10006, 0xC0001}};

TEST(DeviceMatch, CriteriaAgainstDevices) {
    const DeviceMatching keyboards{0x01, 0x06, {}, {}};
    const DeviceMatching consumer{0x0C, {}, {}, {}};
    const DeviceMatching orlaJIS{{}, {}, 0x04FE, 0x0007};
    const DeviceMatching usageWithoutPage{{}, 0x02, {}, {}};
    const struct {
        const char* name;
        std::vector<DeviceMatching> matchings;
        DeviceFacts facts;
        bool matches;
    } cases[] = {
        {"keyboard criteria take a keyboard", {keyboards}, kOrlaJIS, true},
        {"keyboard criteria leave a mouse", {keyboards}, kMouse, false},
        {"any top-level collection counts", {consumer}, kKeyboardWithMediaKeys, true},
        {"vendor and product pick one model", {orlaJIS}, kOrlaJIS, true},
        {"vendor and product leave another", {orlaJIS}, kKeyboardWithMediaKeys, false},
        {"a usage without its page names nothing", {usageWithoutPage}, kOrlaJIS, true},
        {"one of several sets is enough", {orlaJIS, DeviceMatching{0x01, 0x02, {}, {}}}, kMouse, true},
        {"no criteria take everything", {}, kMouse, true},
        {"a device without collections meets no usage", {keyboards}, DeviceFacts{1, 2, {}}, false},
    };
    for (const auto& c : cases) EXPECT_EQ(deviceMatchesAny(c.facts, c.matchings), c.matches) << c.name;
}

TEST(DeviceMatch, HidIdProperty) {
    const struct {
        const char* text;
        bool valid;
        HidId id;
    } cases[] = {
        {"0003:000004FE:00000006", true, {3, 0x04FE, 0x0006}},
        {"0005:0000046d:0000B342", true, {5, 0x046D, 0xB342}},
        {"0003:04FE:0007", true, {3, 0x04FE, 0x0007}},
        {"0003:000004FE", false, {}},
        {"0003:000004FE:00000006:1", false, {}},
        {"0003::00000006", false, {}},
        {"0003:0x04FE:00000006", false, {}},
        {"0003:1000004FE:00000006", false, {}},
        {"0003:-00004FE:00000006", false, {}},
        {"", false, {}},
    };
    for (const auto& c : cases) {
        const auto id = parseHidId(c.text);
        ASSERT_EQ(id.has_value(), c.valid) << c.text;
        if (!id) continue;
        EXPECT_EQ(id->bus, c.id.bus) << c.text;
        EXPECT_EQ(id->vendorId, c.id.vendorId) << c.text;
        EXPECT_EQ(id->productId, c.id.productId) << c.text;
    }
}

}  // namespace
}  // namespace vexa::hid
