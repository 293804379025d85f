#include "prefs/reconfigure.h"

#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>
#include <time.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <list>
#include <memory>

#include "prefs/prefs.h"
#include "prefs/setupper_bus.h"

namespace {

namespace names = vexa::setupper_bus;

constexpr std::uint64_t kPostTimeoutUsec = 1'000'000;

struct Registration {
    vexa::SetUpperNotificationObserver* observer;
    sd_bus_slot* slot = nullptr;
};

int onSignal(sd_bus_message* message, void* userdata, sd_bus_error*) {
    auto* registration = static_cast<Registration*>(userdata);
    vexa::Notification notification{names::kNotificationName, {}};
    char type = 0;
    const char* text = nullptr;
    if (sd_bus_message_rewind(message, true) >= 0 && sd_bus_message_peek_type(message, &type, nullptr) > 0 &&
        type == SD_BUS_TYPE_STRING && sd_bus_message_read_basic(message, SD_BUS_TYPE_STRING, &text) >= 0 &&
        text != nullptr) {
        notification.object = text;
    }
    // The observer may remove itself here; `registration` is not used after.
    // Nothing may unwind through sd-bus's C frames.
    try {
        registration->observer->setUpperNotification(notification);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "A \"%s\" observer failed: %s\n", names::kNotificationName, e.what());
    } catch (...) {
        std::fprintf(stderr, "A \"%s\" observer failed.\n", names::kNotificationName);
    }
    return 0;
}

// One system-bus connection per thread, attached to the thread's default
// event loop while it has observers.
class ThreadChannel {
public:
    ~ThreadChannel() { closeBus(); }

    ErrorCode add(vexa::SetUpperNotificationObserver* observer) {
        if (bus_ == nullptr) {
            const int r = openBus();
            if (r < 0) return r;
        }
        auto registration = std::make_unique<Registration>(Registration{observer});
        const int r = sd_bus_add_match(bus_, &registration->slot, names::kMatchRule, onSignal, registration.get());
        if (r < 0) {
            if (registrations_.empty()) closeBus();
            return r;
        }
        registrations_.push_back(std::move(registration));
        return 0;
    }

    void remove(vexa::SetUpperNotificationObserver* observer) {
        registrations_.remove_if([observer](const std::unique_ptr<Registration>& r) {
            if (r->observer != observer) return false;
            sd_bus_slot_unref(r->slot);
            return true;
        });
        if (registrations_.empty()) closeBus();
    }

private:
    int openBus() {
        int r = sd_event_default(&event_);
        if (r < 0) return r;
        r = sd_bus_open_system(&bus_);
        if (r >= 0) r = sd_bus_attach_event(bus_, event_, SD_EVENT_PRIORITY_NORMAL);
        if (r < 0) closeBus();
        return r;
    }

    void closeBus() {
        for (auto& r : registrations_) sd_bus_slot_unref(r->slot);
        registrations_.clear();
        if (bus_ != nullptr) {
            // No flush: this may run inside the bus's own dispatch (an
            // observer removing itself), and closing drops the matches anyway.
            sd_bus_detach_event(bus_);
            bus_ = sd_bus_close_unref(bus_);
        }
        event_ = sd_event_unref(event_);
    }

    sd_event* event_ = nullptr;
    sd_bus* bus_ = nullptr;
    std::list<std::unique_ptr<Registration>> registrations_;
};

thread_local ThreadChannel t_channel;

std::uint64_t nowUsec() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1'000'000 + static_cast<std::uint64_t>(ts.tv_nsec) / 1000;
}

// Like sd_bus_flush, but gives up at `deadline`: a stuck bus daemon must not
// hold up the poster.
int flushUntil(sd_bus* bus, std::uint64_t deadline) {
    for (;;) {
        std::uint64_t queued = 0;
        int r = sd_bus_get_n_queued_write(bus, &queued);
        if (r < 0) return r;
        if (sd_bus_is_ready(bus) > 0 && queued == 0) return 0;
        r = sd_bus_process(bus, nullptr);
        if (r < 0) return r;
        if (r > 0) continue;
        const std::uint64_t now = nowUsec();
        if (now >= deadline) return -ETIMEDOUT;
        r = sd_bus_wait(bus, deadline - now);
        if (r < 0 && r != -EINTR) return r;
    }
}

}  // namespace

ErrorCode vexa::postSetUpperNotification(const std::string& object) {
    const std::uint64_t deadline = nowUsec() + kPostTimeoutUsec;
    sd_bus* bus = nullptr;
    int r = sd_bus_open_system(&bus);
    if (r < 0) return r;
    r = sd_bus_emit_signal(bus, names::kObjectPath, names::kInterface, names::kMember, "s", object.c_str());
    if (r >= 0) r = flushUntil(bus, deadline);
    sd_bus_close_unref(bus);
    return r < 0 ? r : 0;
}

ErrorCode KZ730registerSetUpperNotification(vexa::SetUpperNotificationObserver* observer) {
    if (observer == nullptr) return KZ730_ERR_REGISTER_NULL;
    return t_channel.add(observer);
}

void KZ730removeSetUpperNotification(vexa::SetUpperNotificationObserver* observer) {
    if (observer != nullptr) t_channel.remove(observer);
}

extern "C" void KZ730postReconfigureNotification(void) {
    const ErrorCode r = vexa::postSetUpperNotification(vexa::setupper_bus::kReconfigure);
    if (r != 0) {
        std::fprintf(stderr, "The \"%s\" notification was not sent: %s\n", vexa::setupper_bus::kReconfigure,
                     std::strerror(-r));
    }
}
