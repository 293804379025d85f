#include "driver/device_match.h"

#include <gtest/gtest.h>

namespace {

using vexa::InputNodeFacts;

InputNodeFacts keyboard(std::int32_t vendor, std::int32_t product) {
    return {"event5", "/dev/input/event5", vendor, product, true, true};
}

TEST(DeviceMatch, WhichNodesGetAnInstance) {
    struct Case {
        const char* what;
        InputNodeFacts node;
        bool attach;
    };
    InputNodeFacts noKeys = keyboard(1278, 6);
    noKeys.hasKeys = false;
    InputNodeFacts virtualClone = keyboard(1278, 6);
    virtualClone.hasHidParent = false;
    InputNodeFacts joystickNode = keyboard(1278, 6);
    joystickNode.sysname = "js0";
    InputNodeFacts noDevnode = keyboard(1278, 6);
    noDevnode.devnode.clear();
    const Case cases[] = {
        {"ANSI 1138/101", keyboard(1138, 101), true},
        {"ANSI 1278/6", keyboard(1278, 6), true},
        {"JIS 1138/104", keyboard(1138, 104), true},
        {"JIS 1278/7", keyboard(1278, 7), true},
        {"mixed pair 1138/6", keyboard(1138, 6), false},
        {"other keyboard", keyboard(0x046d, 0xc31c), false},
        {"node without keys", noKeys, false},
        {"uinput clone (no HID parent)", virtualClone, false},
        {"not an event node", joystickNode, false},
        {"no device node", noDevnode, false},
    };
    for (const Case& c : cases) EXPECT_EQ(vexa::shouldAttach(c.node), c.attach) << c.what;
}

TEST(DeviceMatch, SysfsParsing) {
    EXPECT_TRUE(vexa::capabilityBitsSet("10000 0 e080ffdf 1cfffff ffffffff fffffffe\n"));
    EXPECT_FALSE(vexa::capabilityBitsSet("0\n"));
    EXPECT_FALSE(vexa::capabilityBitsSet("0 0 0"));
    EXPECT_FALSE(vexa::capabilityBitsSet(""));
    EXPECT_EQ(vexa::parseHexId("04fe\n"), 1278);
    EXPECT_EQ(vexa::parseHexId("0472"), 1138);
    EXPECT_EQ(vexa::parseHexId("0065\n"), 101);
    EXPECT_EQ(vexa::parseHexId(""), -1);
    EXPECT_EQ(vexa::parseHexId("12345"), -1);
    EXPECT_EQ(vexa::parseHexId("04g0"), -1);
}

}  // namespace
