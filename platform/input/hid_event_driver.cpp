#include "platform/input/hid_event_driver.h"

#include <fcntl.h>
#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <systemd/sd-event.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "driver/hid_keycodes.h"

namespace vexa {

namespace {

std::uint64_t nowMonotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000000000ULL + static_cast<std::uint64_t>(ts.tv_nsec);
}

std::uint64_t eventTimeNs(const input_event& ev) {
    return static_cast<std::uint64_t>(ev.input_event_sec) * 1000000000ULL +
           static_cast<std::uint64_t>(ev.input_event_usec) * 1000ULL;
}

}  // namespace

IOHIDEventDriver::IOHIDEventDriver() : pipeline_(*this, *this) {}

IOHIDEventDriver::~IOHIDEventDriver() { stop(); }

bool IOHIDEventDriver::handleStart(InputProvider* provider) {
    if (provider == nullptr || provider->loop == nullptr || dev_ != nullptr) return false;
    devnode_ = provider->devnode;
    loop_ = provider->loop;
    fd_ = open(devnode_.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        std::fprintf(stderr, "%s: cannot open: %s\n", devnode_.c_str(), std::strerror(errno));
        return false;
    }
    int r = libevdev_new_from_fd(fd_, &dev_);
    if (r < 0) {
        std::fprintf(stderr, "%s: not an input device: %s\n", devnode_.c_str(), std::strerror(-r));
        stop();
        return false;
    }
    // Event times on the same clock as the grab time below.
    libevdev_set_clock_id(dev_, CLOCK_MONOTONIC);

    // The virtual keyboard can send every key a table may choose, not only
    // the keys this keyboard has.
    for (std::uint32_t usage = 0; usage < 256; ++usage) {
        if (auto key = reportedKeyFromUsage({kUsagePageKeyboard, usage}))
            libevdev_enable_event_code(dev_, EV_KEY, *key, nullptr);
    }
    libevdev_enable_event_code(dev_, EV_KEY, *reportedKeyFromUsage({kUsagePageConsumer, kConsumerEject}), nullptr);
    libevdev_enable_event_code(dev_, EV_MSC, MSC_SCAN, nullptr);

    uinputFd_ = open("/dev/uinput", O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (uinputFd_ < 0) {
        std::fprintf(stderr, "%s: cannot open /dev/uinput: %s\n", devnode_.c_str(), std::strerror(errno));
        stop();
        return false;
    }
    r = libevdev_uinput_create_from_device(dev_, uinputFd_, &uinput_);
    if (r < 0) {
        std::fprintf(stderr, "%s: cannot create the virtual keyboard: %s\n", devnode_.c_str(), std::strerror(-r));
        stop();
        return false;
    }
    r = sd_event_add_io(provider->loop, &keyboardSource_, fd_, EPOLLIN, onKeyboardReadable, this);
    if (r >= 0) r = sd_event_add_io(provider->loop, &virtualSource_, uinputFd_, EPOLLIN, onVirtualReadable, this);
    if (r < 0) {
        std::fprintf(stderr, "%s: cannot watch the device: %s\n", devnode_.c_str(), std::strerror(-r));
        stop();
        return false;
    }
    tryGrab();
    return true;
}

std::int32_t IOHIDEventDriver::getVendorID() const { return dev_ ? libevdev_get_id_vendor(dev_) : 0; }

std::int32_t IOHIDEventDriver::getProductID() const { return dev_ ? libevdev_get_id_product(dev_) : 0; }

void IOHIDEventDriver::dispatchKeyboardEvent(std::uint64_t, std::uint32_t usagePage, std::uint32_t usage,
                                             std::uint32_t value, std::uint32_t) {
    pipeline_.emitKey({usagePage, usage}, static_cast<std::int32_t>(value));
}

IOReturn IOHIDEventDriver::setProperties(PropertyDictionary* properties) {
    if (properties == nullptr) return -EINVAL;
    return properties->empty() ? 0 : -EOPNOTSUPP;
}

std::string IOHIDEventDriver::virtualSyspath() const {
    const char* path = uinput_ ? libevdev_uinput_get_syspath(uinput_) : nullptr;
    return path ? path : "";
}

void IOHIDEventDriver::writeEvent(std::uint16_t type, std::uint16_t code, std::int32_t value) {
    if (uinput_) libevdev_uinput_write_event(uinput_, type, code, value);
}

void IOHIDEventDriver::dispatchKey(std::uint64_t timeStampNs, std::uint32_t usagePage, std::uint32_t usage,
                                   std::uint32_t value) {
    dispatchKeyboardEvent(timeStampNs, usagePage, usage, value, 0);
}

int IOHIDEventDriver::onKeyboardReadable(sd_event_source*, int, std::uint32_t, void* self) {
    static_cast<IOHIDEventDriver*>(self)->readKeyboard();
    return 0;
}

int IOHIDEventDriver::onVirtualReadable(sd_event_source*, int, std::uint32_t, void* self) {
    static_cast<IOHIDEventDriver*>(self)->readVirtual();
    return 0;
}

bool IOHIDEventDriver::anyKeyDown() const {
    for (unsigned code = 0; code <= KEY_MAX; ++code) {
        if (libevdev_has_event_code(dev_, EV_KEY, code) && libevdev_get_event_value(dev_, EV_KEY, code))
            return true;
    }
    return false;
}

// Grabbing while a key is down would leave that key pressed in the system:
// its release would only reach us. So the grab waits until every key is up
// and nothing is queued, and events stamped before the grab (which the
// system saw as well) are never forwarded.
void IOHIDEventDriver::tryGrab() {
    if (grabbed_ || terminated_ || anyKeyDown() || libevdev_has_event_pending(dev_) != 0) return;
    const int r = libevdev_grab(dev_, LIBEVDEV_GRAB);
    if (r < 0) {
        // Another program holds the keyboard; its events do not reach us
        // meanwhile, so try again on a timer.
        if (grabRetry_ == nullptr) {
            std::fprintf(stderr, "%s: cannot grab: %s; retrying every second\n", devnode_.c_str(), std::strerror(-r));
            sd_event_add_time_relative(loop_, &grabRetry_, CLOCK_MONOTONIC, 1000000, 0, onGrabRetry, this);
        } else {
            sd_event_source_set_time_relative(grabRetry_, 1000000);
            sd_event_source_set_enabled(grabRetry_, SD_EVENT_ONESHOT);
        }
        return;
    }
    grabbed_ = true;
    grabTimeNs_ = nowMonotonicNs();
}

int IOHIDEventDriver::onGrabRetry(sd_event_source*, std::uint64_t, void* self) {
    static_cast<IOHIDEventDriver*>(self)->readKeyboard();
    return 0;
}

void IOHIDEventDriver::readKeyboard() {
    input_event ev{};
    int flags = LIBEVDEV_READ_FLAG_NORMAL;
    for (;;) {
        const int r = libevdev_next_event(dev_, flags, &ev);
        if (r == -EAGAIN) {
            if (flags == LIBEVDEV_READ_FLAG_SYNC) {
                flags = LIBEVDEV_READ_FLAG_NORMAL;
                continue;
            }
            break;
        }
        if (r < 0) {
            terminate(-r);
            return;
        }
        if (r == LIBEVDEV_READ_STATUS_SYNC) {
            flags = LIBEVDEV_READ_FLAG_SYNC;
            if (grabbed_ && ev.type != EV_SYN) pipeline_.feedResync(ev);
            continue;
        }
        if (!grabbed_) continue;
        if (eventTimeNs(ev) <= grabTimeNs_) {
            // Seen by the system before the grab took hold: a press among
            // them would be released behind the system's back. Let go and
            // wait for the keys to come up again.
            if (ev.type == EV_KEY && ev.value == 1) {
                libevdev_grab(dev_, LIBEVDEV_UNGRAB);
                grabbed_ = false;
            }
            continue;
        }
        pipeline_.feed(ev);
    }
    if (!grabbed_) tryGrab();
}

void IOHIDEventDriver::readVirtual() {
    input_event ev{};
    for (;;) {
        const ssize_t n = read(uinputFd_, &ev, sizeof ev);
        if (n != static_cast<ssize_t>(sizeof ev)) break;
        if (ev.type == EV_LED && libevdev_has_event_code(dev_, EV_LED, ev.code))
            libevdev_kernel_set_led_value(dev_, ev.code, ev.value ? LIBEVDEV_LED_ON : LIBEVDEV_LED_OFF);
    }
}

void IOHIDEventDriver::terminate(int error) {
    if (terminated_) return;
    terminated_ = true;
    if (error != ENODEV) std::fprintf(stderr, "%s: read failed: %s\n", devnode_.c_str(), std::strerror(error));
    sd_event_source_set_enabled(keyboardSource_, SD_EVENT_OFF);
    sd_event_source_set_enabled(virtualSource_, SD_EVENT_OFF);
    if (onTerminated_) onTerminated_();
}

void IOHIDEventDriver::stop() {
    keyboardSource_ = sd_event_source_disable_unref(keyboardSource_);
    virtualSource_ = sd_event_source_disable_unref(virtualSource_);
    grabRetry_ = sd_event_source_disable_unref(grabRetry_);
    if (uinput_) {
        pipeline_.releaseAll();
        libevdev_uinput_destroy(uinput_);
        uinput_ = nullptr;
    }
    if (uinputFd_ >= 0) close(uinputFd_);
    uinputFd_ = -1;
    if (dev_) {
        if (grabbed_) libevdev_grab(dev_, LIBEVDEV_UNGRAB);
        libevdev_free(dev_);
        dev_ = nullptr;
    }
    grabbed_ = false;
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

}  // namespace vexa
