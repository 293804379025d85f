// Switching a USB device's authorization off and on: the writes, the status, the second try at switching on.
#include "platform/usb/authorization.h"

#include <cerrno>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(SwitchOffAndOn, WritesAndRecovery) {
    struct Case {
        const char* name;
        std::vector<int> answers;  // what each write returns, in order
        std::string writes;        // the values written ('0' off, '1' on)
        int status;
        bool leftOff;
    } cases[] = {
        {"both work", {0, 0}, "01", 0, false},
        {"switching off fails: nothing more is written", {-EROFS}, "0", -EROFS, false},
        {"switching on fails once: off and on again, the failure reported", {0, -ENOMEM, 0, 0}, "0101", -ENOMEM,
         false},
        {"switching on fails twice: left off", {0, -EPROTO, 0, -ENODEV}, "0101", -EPROTO, true},
        {"the second switch-off fails: on is tried all the same", {0, -EPROTO, -ENODEV, 0}, "0101", -EPROTO, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string writes;
        std::size_t next = 0;
        const vexa::usb::SwitchResult result = vexa::usb::switchOffAndOn([&](bool on) {
            writes += on ? '1' : '0';
            return next < c.answers.size() ? c.answers[next++] : -E2BIG;  // a write the case did not expect
        });
        EXPECT_EQ(writes, c.writes);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.leftOff, c.leftOff);
    }
}

}  // namespace
