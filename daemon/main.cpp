// VexaOrlaSetUpper: the set-up daemon. Started by systemd; applies the
// console user's keymaps to every keyboard until SIGTERM (status 0), or
// until it loses the system bus (status 1: its unit starts it again).
#include <systemd/sd-bus.h>
#include <systemd/sd-daemon.h>
#include <systemd/sd-event.h>

#include <cerrno>
#include <csignal>
#include <memory>

#include "daemon/launch_check.h"
#include "daemon/set_upper.h"
#include "errors/daemon_alerts.h"
#include "platform/glue/bus.h"
#include "platform/glue/log.h"
#include "platform/glue/owners.h"
#include "platform/process/process.h"

namespace {

// SIGTERM arrives through the loop (a signal descriptor), so stopping is
// an ordinary event: the loop ends and the watchers are removed after it.
int Exception_Handler(sd_event_source* source, const signalfd_siginfo*, void*) {
    return sd_event_exit(sd_event_source_get_event(source), 0);
}

// Every watcher listens on the system bus; without it the daemon would run
// on deaf. It stops with a failure instead, and its unit starts it again
// once the bus is back.
int onBusLost(sd_bus_message*, void* loop, sd_bus_error*) {
    vexa::logLine(SD_ERR "VexaOrlaSetUpper: lost the system bus; stopping");
    return sd_event_exit(static_cast<sd_event*>(loop), -ECONNRESET);
}

// A connection of its own that only notices the bus going away: when the
// bus daemon stops, every connection of the process goes with it.
int watchBusLoss(sd_event* loop, vexa::BusPtr* bus, vexa::BusSlotPtr* lost) {
    sd_bus* raw = nullptr;
    int r = sd_bus_open_system(&raw);
    vexa::BusPtr owned(raw);
    if (r < 0) return vexa::logErrno(r, SD_ERR "VexaOrlaSetUpper: cannot connect to the system bus");
    r = sd_bus_attach_event(raw, loop, SD_EVENT_PRIORITY_NORMAL);
    if (r < 0) return vexa::logErrno(r, SD_ERR "VexaOrlaSetUpper: cannot run the system bus on the event loop");
    sd_bus_slot* slot = nullptr;
    r = vexa::matchDisconnected(raw, &slot, onBusLost, loop);
    if (r < 0) return vexa::logErrno(r, SD_ERR "VexaOrlaSetUpper: cannot watch the system bus connection");
    *bus = std::move(owned);
    lost->reset(slot);
    return 0;
}

}  // namespace

int main() {
    sd_event* raw = nullptr;
    int r = sd_event_default(&raw);
    vexa::EventPtr loop(raw);
    sd_event_source* signal = nullptr;
    if (r >= 0) r = sd_event_add_signal(loop.get(), &signal, SIGTERM | SD_EVENT_SIGNAL_PROCMASK, Exception_Handler,
                                        nullptr);
    vexa::EventSourcePtr sigterm(signal);
    if (r < 0) {
        vexa::logErrno(r, SD_ERR "VexaOrlaSetUpper: cannot set up the event loop");
        return 1;
    }

    const std::string parent = vexa::process::parentProcessName();
    if (!vexa::setupper::launcherIsLegal(parent)) {
        postPlainNotice(kNoticeNoteLevel, vexa::setupper::illegalLauncherText(parent));
        return 0;
    }
    const double version = vexa::process::systemVersionNumber();
    if (!vexa::setupper::systemIsSupported(version)) {
        postPlainNotice(kNoticeNoteLevel, vexa::setupper::unsupportedSystemText(version));
        return 0;
    }

    vexa::BusPtr bus;
    vexa::BusSlotPtr busLost;
    if (watchBusLoss(loop.get(), &bus, &busLost) < 0) return 1;

    auto daemon = std::make_unique<SetUpperClass>();
    daemon->start();
    // Every watcher that could be installed is: the service manager may go on.
    sd_notify(0, "READY=1");
    r = sd_event_loop(loop.get());
    sd_notify(0, "STOPPING=1");
    daemon->stop();
    daemon.reset();
    if (r < 0) {
        if (r != -ECONNRESET) vexa::logErrno(r, SD_ERR "VexaOrlaSetUpper: the event loop failed");
        return 1;
    }
    return 0;
}
