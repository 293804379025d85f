// A thread with its own default sd-event loop, for stand-ins that must
// answer while the test's own thread waits in a blocking call.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace vexa::test {

class ServiceThread {
public:
    ServiceThread();
    // Ends the loop and joins. Destroy what lives on the thread before (with run).
    ~ServiceThread();
    ServiceThread(const ServiceThread&) = delete;
    ServiceThread& operator=(const ServiceThread&) = delete;

    // Runs `task` on the thread, between two events of its loop, and waits for it.
    void run(std::function<void()> task);

private:
    void main();

    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable done_;
    std::deque<std::function<void()>> tasks_;
    int wakeup_ = -1;
    bool ready_ = false;
    bool quit_ = false;
    unsigned long finished_ = 0;
};

}  // namespace vexa::test
