// A stand-in for the desktop's notification server on the session bus, for
// tests of notices: it owns org.freedesktop.Notifications and records each
// Notify call with the caller's user ID. Runs on the thread's default
// sd-event loop.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/glue/owners.h"

namespace vexa::test {

class NotificationStandin {
public:
    struct Notification {
        std::string appName;
        std::string summary;
        std::string body;
        int urgency = -1;        // the "urgency" hint; -1 when absent
        std::string soundName;   // the "sound-name" hint
        std::int32_t expireTimeout = -1;
        std::uint32_t senderUid = UINT32_MAX;
    };

    // `bodyMarkup`: whether the server says it reads markup in bodies.
    explicit NotificationStandin(bool bodyMarkup = false);
    ~NotificationStandin();
    NotificationStandin(const NotificationStandin&) = delete;
    NotificationStandin& operator=(const NotificationStandin&) = delete;

    std::vector<Notification> received;
    bool bodyMarkup;

private:
    BusPtr bus_;
    BusSlotPtr object_;
};

}  // namespace vexa::test
