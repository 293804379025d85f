#include "platform/input/input_loop.h"

#include <sys/epoll.h>

#include <algorithm>
#include <cerrno>

namespace vexa {

InputLoop::InputLoop(sd_event* event) : event_(sd_event_ref(event)), epoll_(epoll_create1(EPOLL_CLOEXEC)) {
    if (!epoll_) {
        epollError_ = -errno;
        return;
    }
    // sd-event's own descriptor carries no watch: a null pointer.
    epoll_event ev{};
    ev.events = EPOLLIN;
    if (epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, sd_event_get_fd(event), &ev) < 0) epollError_ = -errno;
}

int InputLoop::watch(int fd, Handler handler, void* userdata) {
    if (epollError_ < 0) return epollError_;
    auto watch = std::make_unique<Watch>(Watch{fd, handler, userdata});
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.ptr = watch.get();
    if (epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, fd, &ev) < 0) return -errno;
    watches_.push_back(std::move(watch));
    return 0;
}

void InputLoop::unwatch(int fd) {
    const auto it = std::find_if(watches_.begin(), watches_.end(), [fd](const auto& w) { return w->fd == fd; });
    if (it == watches_.end()) return;
    epoll_ctl(epoll_.get(), EPOLL_CTL_DEL, fd, nullptr);
    retired_.push_back(std::move(*it));
    watches_.erase(it);
    ++generation_;
}

int InputLoop::run() {
    if (epollError_ < 0) return epollError_;
    sd_event* e = event_.get();
    for (;;) {
        int r = sd_event_prepare(e);
        if (r == 0) {
            r = waitForEventLoop();
            if (r >= 0) r = sd_event_wait(e, 0);
        }
        if (r > 0) r = sd_event_dispatch(e);
        if (r < 0) return r;
        if (sd_event_get_state(e) == SD_EVENT_FINISHED) {
            int code = 0;
            r = sd_event_get_exit_code(e, &code);
            return r < 0 ? r : code;
        }
    }
}

int InputLoop::waitForEventLoop() {
    epoll_event ready[16];
    for (;;) {
        retired_.clear();
        const int n = epoll_wait(epoll_.get(), ready, 16, -1);
        if (n < 0) {
            if (errno == EINTR) continue;
            return -errno;
        }
        bool eventLoopReady = false;
        // A handler may unwatch another whose readiness is in `ready`: after
        // an unwatch the rest waits for the next epoll_wait, which no longer
        // reports removed descriptors.
        const std::uint64_t generation = generation_;
        for (int i = 0; i < n && generation == generation_; ++i) {
            auto* w = static_cast<Watch*>(ready[i].data.ptr);
            if (w == nullptr) eventLoopReady = true;
            else w->handler(w->userdata);
        }
        for (int i = 0; i < n; ++i) eventLoopReady |= ready[i].data.ptr == nullptr;
        if (eventLoopReady || eventLoopTouched_) {
            eventLoopTouched_ = false;
            return 0;
        }
    }
}

}  // namespace vexa
