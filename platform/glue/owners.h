// Owner types for the C handles of the glue code (sd-event, sd-bus,
// sd-device, file descriptors). A handle is built in an owning local and
// moved into its object once every step has worked, so an early return
// releases whatever was made so far. Declare a slot or event source after the
// data its callback points to, so the source goes first when the owner dies.
#pragma once

#include <systemd/sd-bus.h>
#include <systemd/sd-device.h>
#include <systemd/sd-event.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <utility>

namespace vexa {

template <auto Unref>
struct Unrefer {
    template <typename T>
    void operator()(T* p) const {
        Unref(p);
    }
};

using EventPtr = std::unique_ptr<sd_event, Unrefer<&sd_event_unref>>;
using EventSourcePtr = std::unique_ptr<sd_event_source, Unrefer<&sd_event_source_disable_unref>>;
using BusPtr = std::unique_ptr<sd_bus, Unrefer<&sd_bus_flush_close_unref>>;
using BusSlotPtr = std::unique_ptr<sd_bus_slot, Unrefer<&sd_bus_slot_unref>>;
using BusMessagePtr = std::unique_ptr<sd_bus_message, Unrefer<&sd_bus_message_unref>>;
using DevicePtr = std::unique_ptr<sd_device, Unrefer<&sd_device_unref>>;
using DeviceEnumeratorPtr = std::unique_ptr<sd_device_enumerator, Unrefer<&sd_device_enumerator_unref>>;
using DeviceMonitorPtr = std::unique_ptr<sd_device_monitor, Unrefer<&sd_device_monitor_unref>>;

// An owned file descriptor; -1 when empty.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    ~Fd() { reset(); }
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    // Gives the descriptor away; the caller closes it.
    int release() { return std::exchange(fd_, -1); }
    // Closes now and reports close's own failure (delayed write errors).
    int close() {
        const int r = ::close(std::exchange(fd_, -1));
        return r == 0 ? 0 : -errno;
    }
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

}  // namespace vexa
