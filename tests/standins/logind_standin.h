// A stand-in for logind on the system bus, for tests of the console-user
// watch: it owns org.freedesktop.login1 and publishes seat0 with its
// ActiveSession, and one session object per login with its User and Name.
// Each change of the active session is announced with PropertiesChanged on
// seat0, as logind does. Runs on the thread's default sd-event loop.
#pragma once

#include <cstdint>
#include <list>
#include <optional>
#include <string>

#include "platform/glue/owners.h"

namespace vexa::test {

class LogindStandin {
public:
    struct User {
        std::string name;
        std::uint32_t uid = 0;
    };

    // Takes the name; seat0 has no active session.
    LogindStandin();
    ~LogindStandin();
    LogindStandin(const LogindStandin&) = delete;
    LogindStandin& operator=(const LogindStandin&) = delete;

    // A new session of `user` becomes seat0's active session, or (none)
    // nobody is active; seat0 announces the change (while stopped, the
    // change is there when logind is back).
    void activate(const std::optional<User>& user);
    // logind stops: its connection closes, its name has no owner. The
    // sessions stay for restart(), which publishes them on a new
    // connection before taking the name, as a restarted logind does.
    void stop();
    void restart();
    // Announces a change of seat0 without changing anything.
    void announce();
    // How often the active session's Name has been read: a client that
    // read it has finished its reading of the console user.
    int activeNameReads() const { return active_ != nullptr ? active_->nameReads : 0; }

    struct Session {
        std::string id;
        std::string path;
        User user;
        int nameReads = 0;
        BusSlotPtr slot;
    };

private:
    void connect();

    BusPtr bus_;
    BusSlotPtr seat_;
    std::list<Session> sessions_;
    const Session* active_ = nullptr;
    friend int readActiveSession(sd_bus*, const char*, const char*, const char*, sd_bus_message*, void*,
                                 sd_bus_error*);
};

}  // namespace vexa::test
