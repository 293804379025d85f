// VexaOrla: the keyboard driver service.
#include <cstdio>
#include <cstring>

#include "driver/driver_service.h"

int main() {
    vexa::DriverService service;
    int r = service.start();
    if (r >= 0) r = service.run();
    if (r < 0) {
        std::fprintf(stderr, "VexaOrla: stopped: %s\n", std::strerror(-r));
        return 1;
    }
    return 0;
}
