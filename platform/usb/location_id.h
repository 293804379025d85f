// The 32-bit location of a USB device: bus number in the top byte, then one
// nibble per port on the way from the root hub, first port in the highest
// nibble. Two devices on the same bus and port path have the same location.
#pragma once

#include <cstdint>
#include <string_view>

namespace vexa {

// Location from the sysfs attributes `busnum` and `devpath` ("1", "1.4.2";
// "0" for a root hub). Ports above 15 are stored as 15, paths longer than
// six ports keep their first six. 0 when devpath is malformed.
std::uint32_t usbLocationID(unsigned busnum, std::string_view devpath);

}  // namespace vexa
