// The base driver's parts that work without a device.
#include "platform/input/hid_event_driver.h"

#include <gtest/gtest.h>
#include <systemd/sd-event.h>

namespace {

TEST(IOHIDEventDriver, BaseSetPropertiesRefusesWhatItDoesNotKnow) {
    vexa::IOHIDEventDriver driver;
    vexa::PropertyDictionary empty;
    EXPECT_EQ(driver.setProperties(&empty), 0);
    vexa::PropertyDictionary other{{"Other", std::int64_t{1}}};
    EXPECT_EQ(driver.setProperties(&other), -EOPNOTSUPP);
    EXPECT_EQ(driver.setProperties(nullptr), -EINVAL);
}

TEST(IOHIDEventDriver, StartOnMissingNodeFailsAndLeavesNoIds) {
    sd_event* loop = nullptr;
    ASSERT_GE(sd_event_new(&loop), 0);
    vexa::InputLoop input(loop);
    vexa::IOHIDEventDriver driver;
    vexa::InputProvider provider{"/nonexistent/event99", &input};
    EXPECT_FALSE(driver.handleStart(&provider));
    EXPECT_FALSE(driver.handleStart(nullptr));
    EXPECT_EQ(driver.getVendorID(), 0);
    EXPECT_EQ(driver.getProductID(), 0);
    EXPECT_FALSE(driver.isGrabbed());
    sd_event_unref(loop);
}

}  // namespace
