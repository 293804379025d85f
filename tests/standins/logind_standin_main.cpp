// vexa_logind_standin NAME UID: plays logind on the system bus, with one
// session of that user active on seat0, until SIGTERM.
#include <systemd/sd-event.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "tests/standins/logind_standin.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s NAME UID\n", argv[0]);
        return 2;
    }
    sd_event* loop = nullptr;
    if (sd_event_default(&loop) < 0) return 1;
    sd_event_add_signal(loop, nullptr, SIGTERM | SD_EVENT_SIGNAL_PROCMASK, nullptr, nullptr);
    try {
        vexa::test::LogindStandin logind;
        logind.activate(vexa::test::LogindStandin::User{argv[1], static_cast<std::uint32_t>(std::atol(argv[2]))});
        std::printf("logind stand-in: %s is at the console\n", argv[1]);
        std::fflush(stdout);
        sd_event_loop(loop);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    sd_event_unref(loop);
    return 0;
}
