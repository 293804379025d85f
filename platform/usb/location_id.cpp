#include "platform/usb/location_id.h"

namespace vexa {

std::uint32_t usbLocationID(unsigned busnum, std::string_view devpath) {
    if (devpath.empty()) return 0;
    std::uint32_t location = (busnum & 0xFFu) << 24;
    if (devpath == "0") return location;
    int shift = 20;
    unsigned port = 0;
    bool digits = false;
    for (std::size_t i = 0; i <= devpath.size(); ++i) {
        const char c = i < devpath.size() ? devpath[i] : '.';
        if (c >= '0' && c <= '9') {
            port = port * 10 + static_cast<unsigned>(c - '0');
            if (port > 255) port = 255;
            digits = true;
        } else if (c == '.' && digits) {
            if (port == 0) return 0;
            if (shift >= 0) location |= (port > 15 ? 15u : port) << shift;
            shift -= 4;
            port = 0;
            digits = false;
        } else {
            return 0;
        }
    }
    return location;
}

}  // namespace vexa
