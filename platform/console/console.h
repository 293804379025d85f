// The user at the console and the host name, with a change callback.
//
// The console user is the user of seat0's active session as logind
// publishes it on the system bus (the seat's ActiveSession, that session's
// User and Name); the group ID comes from the passwd database. Nobody at
// the console, no seat0, a user the passwd database does not know, and a
// logind that is absent, fails or does not answer in time all read as no
// console user.
//
// ConsoleStore keeps the latest reading. It reads once, synchronously and
// bounded, the first time it is asked; after that, every change of seat0's
// properties and every new owner of logind's bus name starts a new reading
// without waiting on the loop, and the callback runs once that reading is
// in. So the loop is never held up by logind, and nothing runs while
// nothing changes. logind going away (its name losing its owner, as in a
// restart) or not answering a later reading is no change of the console:
// the latest reading stands until logind answers again.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/glue/owners.h"

namespace vexa::console {

struct ConsoleUser {
    std::string name;
    std::uint32_t uid = 0;
    std::uint32_t gid = 0;
    friend bool operator==(const ConsoleUser&, const ConsoleUser&) = default;
};

// How long one question to logind may take.
inline constexpr std::uint64_t kLogindTimeoutUsec = 2'000'000;

// The local host name (gethostname); "" when it cannot be read.
std::string localHostName();

// Asks logind on `bus` now and waits for the answers (each at most
// `timeoutUsec`). None when nobody is at the console or logind cannot tell.
std::optional<ConsoleUser> readConsoleUser(sd_bus* bus, std::uint64_t timeoutUsec = kLogindTimeoutUsec);

class ConsoleStore {
public:
    using Callback = std::function<void()>;

    // Opens a system bus connection of its own; none when the bus cannot
    // be reached. `callback` runs on the loop after each new reading.
    static std::unique_ptr<ConsoleStore> create(Callback callback);
    ~ConsoleStore();
    ConsoleStore(const ConsoleStore&) = delete;
    ConsoleStore& operator=(const ConsoleStore&) = delete;

    // The key to watch for the console user: a match rule for seat0's
    // PropertiesChanged signal.
    static std::string consoleUserKey();
    // Watches `key`, and logind's bus name for restarts. 0 or a negative errno.
    int setNotificationKey(const std::string& key);
    // Attaches to the calling thread's default sd-event loop. 0 or a negative errno.
    int attachToDefaultLoop();
    // Stops delivering on the loop (a reading in progress is dropped).
    void detachFromLoop();

    // The console user of the latest reading (the first call reads).
    std::optional<ConsoleUser> copyConsoleUser();

private:
    struct Reading;
    explicit ConsoleStore(Callback callback);
    static int onChange(sd_bus_message*, void* self, sd_bus_error*);
    static int onOwnerChanged(sd_bus_message* m, void* self, sd_bus_error*);
    static int onReply(sd_bus_message* reply, void* self, sd_bus_error*);
    void startReading();
    int askNext();
    void finishReading(std::optional<ConsoleUser> user);

    Callback callback_;
    BusPtr bus_;
    std::unique_ptr<Reading> reading_;  // the reading in progress
    std::optional<ConsoleUser> user_;
    bool haveRead_ = false;
    BusSlotPtr seatMatch_, ownerMatch_, pending_;
};

}  // namespace vexa::console
