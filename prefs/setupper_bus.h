// Names of the "Reconfigure" channel on the system bus, shared by the
// editor (which posts) and the set-up daemon (which observes).
#pragma once

namespace vexa::setupper_bus {

// The notification's name, as observers see it.
inline constexpr char kNotificationName[] = "mirlan.daemon.VexaOrla";
// The signal that carries it: one string argument, the notification's object.
inline constexpr char kObjectPath[] = "/mirlan/daemon/VexaOrla";
inline constexpr char kInterface[] = "mirlan.daemon.VexaOrla";
inline constexpr char kMember[] = "Notification";
// Observers match on the interface only.
inline constexpr char kMatchRule[] = "type='signal',interface='mirlan.daemon.VexaOrla'";
// The object that asks the daemon to apply the saved tables again.
inline constexpr char kReconfigure[] = "Reconfigure";

}  // namespace vexa::setupper_bus
