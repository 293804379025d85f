#include "tests/support/event_loop.h"

#include <systemd/sd-event.h>

#include <stdexcept>

bool vexa::test::runDefaultEventLoopUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    sd_event* event = nullptr;
    if (sd_event_default(&event) < 0) throw std::runtime_error("sd_event_default failed");
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        const auto left = deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero()) break;
        const auto usec = std::chrono::duration_cast<std::chrono::microseconds>(left).count();
        if (sd_event_run(event, static_cast<uint64_t>(usec)) < 0) break;
    }
    sd_event_unref(event);
    return done();
}
