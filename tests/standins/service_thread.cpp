#include "tests/standins/service_thread.h"

#include <sys/eventfd.h>
#include <systemd/sd-event.h>
#include <unistd.h>

#include <cstdint>
#include <stdexcept>

namespace vexa::test {

ServiceThread::ServiceThread() {
    wakeup_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeup_ < 0) throw std::runtime_error("eventfd failed");
    thread_ = std::thread([this] { main(); });
    std::unique_lock lock(mutex_);
    done_.wait(lock, [this] { return ready_; });
}

ServiceThread::~ServiceThread() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    const std::uint64_t one = 1;
    (void)::write(wakeup_, &one, sizeof one);
    thread_.join();
    ::close(wakeup_);
}

void ServiceThread::run(std::function<void()> task) {
    unsigned long ticket = 0;
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
        ticket = finished_ + tasks_.size();
    }
    const std::uint64_t one = 1;
    (void)::write(wakeup_, &one, sizeof one);
    std::unique_lock lock(mutex_);
    done_.wait(lock, [&] { return finished_ >= ticket; });
}

void ServiceThread::main() {
    sd_event* loop = nullptr;
    sd_event_default(&loop);
    sd_event_add_io(
        loop, nullptr, wakeup_, EPOLLIN,
        [](sd_event_source* source, int fd, std::uint32_t, void* userdata) {
            auto* self = static_cast<ServiceThread*>(userdata);
            std::uint64_t count = 0;
            (void)::read(fd, &count, sizeof count);
            std::unique_lock lock(self->mutex_);
            while (!self->tasks_.empty()) {
                auto task = std::move(self->tasks_.front());
                lock.unlock();
                task();
                lock.lock();
                self->tasks_.pop_front();
                ++self->finished_;
            }
            self->done_.notify_all();
            if (self->quit_) sd_event_exit(sd_event_source_get_event(source), 0);
            return 0;
        },
        this);
    {
        std::lock_guard lock(mutex_);
        ready_ = true;
    }
    done_.notify_all();
    sd_event_loop(loop);
    sd_event_unref(loop);
}

}  // namespace vexa::test
