#include "platform/input/hid_event_driver.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <systemd/sd-event.h>
#include <unistd.h>

#include <cerrno>

#include "platform/glue/log.h"
#include "platform/input/hid_keycodes.h"

namespace vexa {

namespace {

// Events taken from the keyboard per read: a few dozen frames.
constexpr std::size_t kReadBatch = 64;
// While another program holds the keyboard, the grab is tried this often.
constexpr std::uint64_t kGrabRetryUs = 1000000;

bool anyBitSet(const KeyBits& bits) {
    for (std::uint8_t byte : bits) {
        if (byte != 0) return true;
    }
    return false;
}

}  // namespace

IOHIDEventDriver::IOHIDEventDriver() : pipeline_(*this, *this) {}

IOHIDEventDriver::~IOHIDEventDriver() { stop(); }

bool IOHIDEventDriver::handleStart(InputProvider* provider) {
    if (provider == nullptr || provider->loop == nullptr || dev_ != nullptr) return false;
    const char* node = provider->devnode.c_str();
    Fd keyboard(open(node, O_RDWR | O_NONBLOCK | O_CLOEXEC));
    if (!keyboard) return logErrno(-errno, SD_ERR "%s: cannot open", node), false;
    libevdev* rawDev = nullptr;
    int r = libevdev_new_from_fd(keyboard.get(), &rawDev);
    EvdevPtr dev(rawDev);
    if (r < 0) return logErrno(r, SD_ERR "%s: not an input device", node), false;

    // The virtual keyboard can send every key a table may choose, not only
    // the keys this keyboard has.
    for (std::uint32_t usage = 0; usage < 256; ++usage) {
        if (auto key = reportedKeyFromUsage({kUsagePageKeyboard, usage}))
            libevdev_enable_event_code(dev.get(), EV_KEY, *key, nullptr);
    }
    libevdev_enable_event_code(dev.get(), EV_KEY, *reportedKeyFromUsage({kUsagePageConsumer, kConsumerEject}),
                               nullptr);
    libevdev_enable_event_code(dev.get(), EV_MSC, MSC_SCAN, nullptr);

    Fd uinputFd(open("/dev/uinput", O_RDWR | O_NONBLOCK | O_CLOEXEC));
    if (!uinputFd) return logErrno(-errno, SD_ERR "%s: cannot open /dev/uinput", node), false;
    libevdev_uinput* rawUinput = nullptr;
    r = libevdev_uinput_create_from_device(dev.get(), uinputFd.get(), &rawUinput);
    UinputPtr uinput(rawUinput);
    if (r < 0) return logErrno(r, SD_ERR "%s: cannot create the virtual keyboard", node), false;

    devnode_ = provider->devnode;
    loop_ = provider->loop;
    keyboard_ = std::move(keyboard);
    dev_ = std::move(dev);
    uinputFd_ = std::move(uinputFd);
    uinput_ = std::move(uinput);
    // LEDs that the system sets on the virtual keyboard arrive on its
    // descriptor, and so does every MSC_SCAN written to it (the input core
    // passes scans to the device as well): watched beside the keyboard,
    // they cost a read, not a pass through sd-event.
    watching_ = true;
    r = loop_->watch(keyboard_.get(), onKeyboardReadable, this);
    if (r >= 0) r = loop_->watch(uinputFd_.get(), onVirtualReadable, this);
    if (r < 0) {
        logErrno(r, SD_ERR "%s: cannot watch the keyboard", node);
        stop();
        return false;
    }
    tryGrab();
    return !terminated_;
}

std::int32_t IOHIDEventDriver::getVendorID() const { return dev_ ? libevdev_get_id_vendor(dev_.get()) : 0; }

std::int32_t IOHIDEventDriver::getProductID() const { return dev_ ? libevdev_get_id_product(dev_.get()) : 0; }

void IOHIDEventDriver::dispatchKeyboardEvent(std::uint64_t, std::uint32_t usagePage, std::uint32_t usage,
                                             std::uint32_t value, std::uint32_t) {
    pipeline_.emitKey({usagePage, usage}, static_cast<std::int32_t>(value));
}

IOReturn IOHIDEventDriver::setProperties(PropertyDictionary* properties) {
    if (properties == nullptr) return -EINVAL;
    return properties->empty() ? 0 : -EOPNOTSUPP;
}

void IOHIDEventDriver::writeEvents(const input_event* events, std::size_t count) {
    if (redirect_ != nullptr) {
        redirect_->writeEvents(events, count);
        return;
    }
    if (!uinputFd_) return;
    // uinput takes any number of events in one write.
    const auto bytes = static_cast<ssize_t>(count * sizeof *events);
    if (write(uinputFd_.get(), events, static_cast<std::size_t>(bytes)) == bytes) {
        // The scans just written are already back on the descriptor: take
        // them now, so the loop does not wake up again for them.
        readVirtual();
        return;
    }
    if (!writeFailed_) logErrno(-errno, SD_WARNING "%s: cannot write to the virtual keyboard", devnode_.c_str());
    writeFailed_ = true;
}

void IOHIDEventDriver::dispatchKey(std::uint64_t timeStampNs, std::uint32_t usagePage, std::uint32_t usage,
                                   std::uint32_t value) {
    dispatchKeyboardEvent(timeStampNs, usagePage, usage, value, 0);
}

KeyBits IOHIDEventDriver::keyboardKeyState() { return keyState(); }

void IOHIDEventDriver::onKeyboardReadable(void* self) { static_cast<IOHIDEventDriver*>(self)->readKeyboard(); }

void IOHIDEventDriver::onVirtualReadable(void* self) { static_cast<IOHIDEventDriver*>(self)->readVirtual(); }

int IOHIDEventDriver::onGrabRetry(sd_event_source*, std::uint64_t, void* self) {
    static_cast<IOHIDEventDriver*>(self)->tryGrab();
    return 0;
}

KeyBits IOHIDEventDriver::keyState() const {
    KeyBits bits{};
    if (!keyboard_ || ioctl(keyboard_.get(), EVIOCGKEY(sizeof bits), bits.data()) < 0) bits.fill(0);
    return bits;
}

// Grabbing while a key is down would leave that key pressed in the system:
// its release would only reach us. So the grab waits until every key is up
// (the keyboard's next events bring us back here). A key may still go down
// between that look and the grab; the kernel's key state right after the
// grab tells, and then the grab is let go at once, before the key's release
// can come, so that the release reaches everyone. The look at the state
// also drops the key events queued before the grab, which the system has
// seen already.
void IOHIDEventDriver::tryGrab() {
    if (grabbed_ || terminated_ || !keyboard_) return;
    if (anyBitSet(keyState())) {
        // The keyboard's next events bring us back, unless another program
        // holds it (then none reach us, not even the releases): the timer
        // looks again in a second in any case.
        retryGrabLater(false);
        return;
    }
    if (ioctl(keyboard_.get(), EVIOCGRAB, 1) < 0) {
        if (errno == EBUSY) {
            retryGrabLater();
        } else {
            logErrno(-errno, SD_ERR "%s: cannot grab", devnode_.c_str());
            terminate(errno);
        }
        return;
    }
    if (anyBitSet(keyState())) {
        ioctl(keyboard_.get(), EVIOCGRAB, 0);
        return;
    }
    grabbed_ = true;
    if (grabRetry_) sd_event_source_set_enabled(grabRetry_.get(), SD_EVENT_OFF);
}

// Another program holds the keyboard; its events do not reach us meanwhile,
// so the grab is tried again on a timer. Without the timer the keyboard
// would stay unserved, so failing to set it ends the instance (its owner
// tries again later).
void IOHIDEventDriver::retryGrabLater(bool heldByAnother) {
    int r = 0;
    if (!grabRetry_) {
        if (heldByAnother) logLine(SD_INFO "%s: held by another program; trying to grab it every second", devnode_.c_str());
        sd_event_source* source = nullptr;
        r = sd_event_add_time_relative(loop_->event(), &source, CLOCK_MONOTONIC, kGrabRetryUs, 0, onGrabRetry, this);
        grabRetry_.reset(source);
        if (r >= 0) sd_event_source_set_description(source, "grab-retry");
    } else {
        r = sd_event_source_set_time_relative(grabRetry_.get(), kGrabRetryUs);
        if (r >= 0) r = sd_event_source_set_enabled(grabRetry_.get(), SD_EVENT_ONESHOT);
    }
    if (r < 0) {
        logErrno(r, SD_ERR "%s: cannot set the grab timer", devnode_.c_str());
        terminate(-r);
        return;
    }
    loop_->wakeEventLoop();
}

void IOHIDEventDriver::readKeyboard() {
    input_event batch[kReadBatch];
    for (;;) {
        const ssize_t n = read(keyboard_.get(), batch, sizeof batch);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno != EAGAIN) terminate(errno);
            break;
        }
        // Until the grab, everyone else sees these events too.
        if (grabbed_) handleKeyboardEvents(batch, static_cast<std::size_t>(n) / sizeof *batch);
        // A short read emptied the queue; the next event wakes us again.
        if (static_cast<std::size_t>(n) < sizeof batch) break;
    }
    if (!grabbed_) tryGrab();
}

void IOHIDEventDriver::handleKeyboardEvents(const input_event* events, std::size_t count) {
    pipeline_.feed(events, count);
}

void IOHIDEventDriver::readVirtual() {
    constexpr std::size_t kBatch = 16;
    input_event batch[kBatch];
    input_event leds[kBatch + 1]{};
    std::size_t count = 0;
    const auto add = [&](std::uint16_t type, std::uint16_t code, std::int32_t value) {
        leds[count].type = type;
        leds[count].code = code;
        leds[count].value = value;
        ++count;
    };
    for (;;) {
        const ssize_t n = read(uinputFd_.get(), batch, sizeof batch);
        if (n <= 0) break;
        count = 0;
        for (std::size_t i = 0; i < static_cast<std::size_t>(n) / sizeof *batch; ++i) {
            if (batch[i].type == EV_LED && libevdev_has_event_code(dev_.get(), EV_LED, batch[i].code))
                add(EV_LED, batch[i].code, batch[i].value ? 1 : 0);
        }
        if (count > 0) {
            add(EV_SYN, SYN_REPORT, 0);
            // Written to the keyboard's node, the LEDs reach the keyboard.
            (void)!write(keyboard_.get(), leds, count * sizeof *leds);
        }
        // A short read emptied the queue.
        if (static_cast<std::size_t>(n) < sizeof batch) break;
    }
}

void IOHIDEventDriver::terminate(int error) {
    if (terminated_) return;
    terminated_ = true;
    if (error != ENODEV) logErrno(-error, SD_WARNING "%s: stopped reading", devnode_.c_str());
    unwatch();
    sd_event_source_set_enabled(grabRetry_.get(), SD_EVENT_OFF);
    // The owner's handler may enable a source of its own (a deferred removal).
    if (loop_) loop_->wakeEventLoop();
    if (onTerminated_) onTerminated_(error);
}

void IOHIDEventDriver::unwatch() {
    if (!watching_) return;
    loop_->unwatch(keyboard_.get());
    loop_->unwatch(uinputFd_.get());
    watching_ = false;
}

void IOHIDEventDriver::stop() {
    unwatch();
    grabRetry_.reset();
    if (uinput_) pipeline_.releaseAll();
    uinput_.reset();
    uinputFd_.reset();
    if (grabbed_ && keyboard_) ioctl(keyboard_.get(), EVIOCGRAB, 0);
    grabbed_ = false;
    dev_.reset();
    keyboard_.reset();
}

}  // namespace vexa
