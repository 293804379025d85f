// VexaOrla: the keyboard driver service.
#include "driver/driver_service.h"
#include "platform/glue/log.h"

int main() {
    vexa::DriverService service;
    int r = service.start();
    if (r >= 0) r = service.run();
    if (r < 0) {
        vexa::logErrno(r, SD_ERR "VexaOrla: stopped");
        return 1;
    }
    return 0;
}
