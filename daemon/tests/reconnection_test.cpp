// The reconnection's functions given a handle that is no USB device (0, or one never handed out).
#include "daemon/reconnection.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "daemon/set_upper.h"

namespace {

TEST(Reconnection, AHandleThatIsNoDevice) {
    for (const std::uint32_t handle : {0u, 0x7FFFFFFFu}) {
        SCOPED_TRACE(handle);
        std::uint32_t vendor = 1, product = 1, deviceClass = 1;
        get_device_info(handle, &vendor, &product, &deviceClass);
        EXPECT_EQ(vendor, 0u);
        EXPECT_EQ(product, 0u);
        EXPECT_EQ(deviceClass, 255u);
        get_device_info(handle, nullptr, nullptr, nullptr);  // no place given: nothing read

        EXPECT_FALSE(is_orla_driver_loaded(handle));

        KZ710getErrorString();
        EXPECT_EQ(reconnect_vexa(handle), kSetUpperErrFindDevice);
        EXPECT_EQ(std::string(g_err_buf[0]), std::to_string(-EBADF)) << "the step's errno, pushed first";
        EXPECT_EQ(std::string(g_err_buf[1]), "") << "and nothing else";
    }
}

}  // namespace
