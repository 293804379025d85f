// VexaOrlaSetUpper: the set-up daemon. Started by systemd; applies the
// console user's keymaps to every keyboard until SIGTERM.
#include <systemd/sd-daemon.h>
#include <systemd/sd-event.h>

#include <csignal>
#include <memory>

#include "daemon/launch_check.h"
#include "daemon/set_upper.h"
#include "errors/daemon_alerts.h"
#include "platform/glue/log.h"
#include "platform/glue/owners.h"
#include "platform/process/process.h"

namespace {

// SIGTERM arrives through the loop (a signal descriptor), so stopping is
// an ordinary event: the loop ends and the watchers are removed after it.
int Exception_Handler(sd_event_source* source, const signalfd_siginfo*, void*) {
    return sd_event_exit(sd_event_source_get_event(source), 0);
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

    auto daemon = std::make_unique<SetUpperClass>();
    daemon->start();
    // Every watcher that could be installed is: the service manager may go on.
    sd_notify(0, "READY=1");
    r = sd_event_loop(loop.get());
    sd_notify(0, "STOPPING=1");
    daemon->stop();
    daemon.reset();
    if (r < 0) {
        vexa::logErrno(r, SD_ERR "VexaOrlaSetUpper: the event loop failed");
        return 1;
    }
    return 0;
}
