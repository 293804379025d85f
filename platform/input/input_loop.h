// The driver service's loop: sd-event carries the bus, udev, signals and
// timers, and the keyboards' nodes are watched beside sd-event's own
// descriptor in an epoll set of the loop's own, so that a key event costs
// one epoll_wait, one read and one write and no pass through sd-event's
// sources. In the qemu guest that pass took a sixth of a key's latency (the
// guest latency benchmark in bench/ shows the driver against a plain
// passthrough).
//
// sd-event is driven through its documented embedding (sd_event_prepare,
// sd_event_get_fd, sd_event_wait, sd_event_dispatch); sources can be added,
// changed and removed from any handler as usual. A keyboard handler runs
// outside sd-event's dispatch, so one that enables an sd-event source (a
// timer, a deferred call) calls wakeEventLoop() for sd-event to look at it
// before the loop sleeps again.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/glue/owners.h"

namespace vexa {

class InputLoop {
public:
    using Handler = void (*)(void* userdata);

    // Runs `event` (the loop keeps a reference). The loop cannot work
    // when its epoll set cannot be made: run() then fails with that errno.
    explicit InputLoop(sd_event* event);
    InputLoop(const InputLoop&) = delete;
    InputLoop& operator=(const InputLoop&) = delete;

    sd_event* event() const { return event_.get(); }
    // Calls handler(userdata) whenever `fd` is readable (or has hung up),
    // until unwatch(fd); the handler reads it until it would block. 0 or a
    // negative errno.
    int watch(int fd, Handler handler, void* userdata);
    void unwatch(int fd);
    // A keyboard handler has enabled an sd-event source.
    void wakeEventLoop() { eventLoopTouched_ = true; }
    // Runs until sd_event_exit(); the exit code it was given, or a negative
    // errno when the loop failed.
    int run();

private:
    struct Watch {
        int fd;
        Handler handler;
        void* userdata;
    };

    // Waits until sd-event has something to look at; keyboards are served
    // on the way. 0 or a negative errno.
    int waitForEventLoop();

    EventPtr event_;
    Fd epoll_;
    int epollError_ = 0;
    // Watches live at fixed addresses (epoll carries their pointers) until
    // no epoll_wait result can still name them.
    std::vector<std::unique_ptr<Watch>> watches_;
    std::vector<std::unique_ptr<Watch>> retired_;
    std::uint64_t generation_ = 0;  // changes with every unwatch
    bool eventLoopTouched_ = false;
};

}  // namespace vexa
