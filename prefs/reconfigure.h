// Module 730: the "Reconfigure" notification between processes.
//
// A notification is a signal on the system bus (see setupper_bus.h) whose
// one string argument is the notification's object. The editor posts
// "Reconfigure" after each save; the set-up daemon observes and applies the
// saved tables again. Registration, removal and delivery happen on the
// calling thread: deliveries are dispatched by that thread's default
// sd-event loop (sd_event_default), so the observer must run it.
//
// These functions have C++ linkage (they take a C++ observer), except the post.
#pragma once

#include <string>

#include "errors/error_stack.h"

namespace vexa {

struct Notification {
    std::string name;    // "mirlan.daemon.VexaOrla"
    std::string object;  // the posted text; "" when the signal carried none
};

class SetUpperNotificationObserver {
public:
    virtual ~SetUpperNotificationObserver() = default;
    virtual void setUpperNotification(const Notification& notification) = 0;
};

// Sends a notification with the given object and returns without waiting
// for any observer. Returns 0, or the sd-bus status (a negative errno) when
// the system bus could not be reached or did not take the message within
// one second (-ETIMEDOUT). Nobody listening is not an error.
ErrorCode postSetUpperNotification(const std::string& object);

}  // namespace vexa

// Starts delivering notifications to `observer` on this thread's default
// sd-event loop. Returns 0, 7300252 for a null observer, or the sd-bus
// status when the system bus cannot be reached. Registering one observer
// twice delivers each notification to it twice.
ErrorCode KZ730registerSetUpperNotification(vexa::SetUpperNotificationObserver* observer);

// Stops all deliveries to `observer`; call it on the registering thread
// before the observer is destroyed. Safe from inside setUpperNotification.
void KZ730removeSetUpperNotification(vexa::SetUpperNotificationObserver* observer);

// Posts the object "Reconfigure". Has no failure result: a notification
// that cannot be sent is reported on standard error and dropped (the saved
// file stays the source of truth for the daemon's next set-up).
extern "C" void KZ730postReconfigureNotification(void);
