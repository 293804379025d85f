// Small sd-bus helpers shared by the glue: attaching a connection to the
// thread's loop, watching a bus name change hands, and noticing a lost bus.
#pragma once

#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>

#include <string>

namespace vexa {

// Attaches `bus` to the calling thread's default sd-event loop. 0 or a negative errno.
inline int attachToDefaultLoop(sd_bus* bus) {
    sd_event* loop = nullptr;
    int r = sd_event_default(&loop);
    if (r < 0) return r;
    r = sd_bus_attach_event(bus, loop, SD_EVENT_PRIORITY_NORMAL);
    sd_event_unref(loop);
    return r < 0 ? r : 0;
}

// The match rule for the bus's NameOwnerChanged signal about `name`: the
// service that owns it started, stopped or was replaced.
inline std::string nameOwnerChangedRule(const char* name) {
    return std::string("type='signal',sender='org.freedesktop.DBus',path='/org/freedesktop/DBus',"
                       "interface='org.freedesktop.DBus',member='NameOwnerChanged',arg0='") +
           name + "'";
}

// Calls `handler` once `bus` has lost its connection (the bus daemon
// stopped or dropped it): sd-bus's own local Disconnected signal.
inline int matchDisconnected(sd_bus* bus, sd_bus_slot** slot, sd_bus_message_handler_t handler, void* userdata) {
    return sd_bus_match_signal(bus, slot, "org.freedesktop.DBus.Local", "/org/freedesktop/DBus/Local",
                               "org.freedesktop.DBus.Local", "Disconnected", handler, userdata);
}

}  // namespace vexa
