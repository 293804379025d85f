// A stand-in for the desktop's notification server on the session bus, for
// tests of notices: it owns org.freedesktop.Notifications and records each
// Notify call with the caller's user ID and what the caller holds open. Runs on the thread's default
// sd-event loop.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "platform/glue/owners.h"

namespace vexa::test {

// What a process's descriptors above standard error lead to, as /proc
// names them ("socket:[1234]", "pipe:[56]", "/dev/null", ...).
std::set<std::string> openFilesOf(pid_t pid);

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
        pid_t senderPid = -1;
        std::set<std::string> senderFiles;  // openFilesOf(the sender) while it waits for the answer
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
