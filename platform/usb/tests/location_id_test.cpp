#include "platform/usb/location_id.h"

#include <gtest/gtest.h>

namespace {

TEST(UsbLocationID, FromBusAndPortPath) {
    struct Case {
        unsigned bus;
        const char* devpath;
        std::uint32_t expected;
    } cases[] = {
        {1, "1", 0x01100000},
        {2, "1.4", 0x02140000},
        {0x14, "3.2.1", 0x14321000},
        {3, "0", 0x03000000},                    // the root hub itself
        {1, "12", 0x01C00000},                   // two-digit port
        {1, "17.2", 0x01F20000},                 // port above 15 saturates
        {1, "1.2.3.4.5.6.7", 0x01123456},        // deeper than six ports
        {0x1FF, "1", 0xFF100000},                // bus keeps its low byte
        {1, "", 0},
        {1, "1..2", 0},
        {1, "1.", 0},
        {1, "a", 0},
        {1, "0.1", 0},                           // ports count from 1
    };
    for (const Case& c : cases) {
        EXPECT_EQ(vexa::usbLocationID(c.bus, c.devpath), c.expected) << c.bus << " " << c.devpath;
    }
}

}  // namespace
