#include "platform/usb/authorization.h"

namespace vexa::usb {

SwitchResult switchOffAndOn(const std::function<int(bool on)>& write) {
    SwitchResult result;
    result.status = write(false);
    if (result.status < 0) return result;
    result.status = write(true);
    if (result.status < 0) {
        write(false);  // whatever it answers, "on" is what counts
        result.leftOff = write(true) < 0;
    }
    return result;
}

}  // namespace vexa::usb
