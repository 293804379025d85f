// The client side of the driver's objects on the system bus, as a registry
// of entries: the driver service publishes one object per keyboard below
// its object manager (driver/bus_names.h); clients find them by class,
// hold them as 32-bit handles (handles.h), read their properties, set a
// keyboard's table, and hear when objects appear or go through a
// notification port on the thread's sd-event loop.
//
// Matching is GetManagedObjects of the driver, filtered by the Class
// property (and LocationID when asked). A driver that is not running has no
// objects; that is not a failure. Properties are read once, when an object
// is matched or announced (they never change while the object lives).
//
// Everything here runs on the process's main thread. Calls wait for the
// driver for at most kCallTimeoutUsec.
#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/glue/owners.h"
#include "platform/registry/handles.h"

namespace vexa::registry {

inline constexpr std::uint64_t kCallTimeoutUsec = 5'000'000;

struct Matching {
    std::string className;                    // the Class property must equal this
    std::optional<std::uint32_t> locationID;  // and, when given, LocationID this

    bool matches(const ObjectRecord& record) const;
};

// Whether the driver is running: its bus name has an owner. False also
// when the bus cannot be asked.
bool driverIsRunning();

// Every object that matches, as a new iterator in `*iterator`. 0 (an empty
// iterator when the driver is not running) or a negative errno when the
// bus or the driver failed.
int getMatchingServices(const Matching& matching, Handle* iterator);

// Whether at least one object matches: "is the driver loaded" (its class),
// "does a driver instance serve the device at this location" (class and
// LocationID). False when the bus cannot be asked.
bool matchingServiceExists(const Matching& matching);

// The next entry of an iterator (a handle the caller releases), 0 at the end.
Handle iteratorNext(Handle iterator);

// Releases an entry or an iterator; releasing a notification's iterator
// ends that notification. 0, or -EBADF when there is no such handle.
int objectRelease(Handle object);

// A property of an entry as published; none when the entry has no such
// property (or it is of another type) or the handle is no entry.
std::optional<std::int64_t> entryIntegerProperty(Handle entry, const std::string& key);
std::optional<std::string> entryTextProperty(Handle entry, const std::string& key);
// The entry's object path; "" for a handle that is no entry.
std::string entryPath(Handle entry);

// SetProperties({key: bytes}) on the entry's object: the instance's status
// (0 on success), or a negative errno when the call itself failed (the
// object is gone, the bus refused it, no answer in time).
int entrySetDataProperty(Handle entry, const std::string& key, std::span<const std::uint8_t> bytes);

enum class NotificationType {
    FirstMatch,  // objects that appear, and every object of a driver that (re)starts
    Terminate,   // objects that go, and every object of a driver that stops
};

// Called on the loop when a notification's iterator has something new
// (only while it is armed: see handles.h).
using NotificationCallback = void (*)(void* refcon, Handle iterator);

// A connection of its own that watches the driver's objects; notifications
// are delivered while it is attached to the thread's default sd-event loop.
class NotificationPort {
public:
    // None when the system bus cannot be reached.
    static std::unique_ptr<NotificationPort> create();
    ~NotificationPort();
    NotificationPort(const NotificationPort&) = delete;
    NotificationPort& operator=(const NotificationPort&) = delete;

    // Attaches to the calling thread's default sd-event loop. 0 or a negative errno.
    int attachToDefaultLoop();

    // Starts a notification of `type` for objects that match. `*iterator`
    // receives its iterator: for FirstMatch it already holds every matching
    // object that exists now; the notification is armed once the iterator
    // has been drained. The iterator is the port's: releasing it ends the
    // notification. 0 or a negative errno (nothing started).
    //
    // A driver that is running but fails to list its objects (an error, no
    // answer in time) does not stop the notification: it starts without
    // them, listingStatus() tells, and the objects are listed again when
    // the driver next takes its name or announces an object.
    int addMatchingNotification(NotificationType type, const Matching& matching, NotificationCallback callback,
                                void* refcon, Handle* iterator);

    // How the latest listing of the driver's objects went: 0, or the
    // negative errno of the failed GetManagedObjects.
    int listingStatus() const { return listing_; }

private:
    struct Watch;
    NotificationPort() = default;
    int startWatching();
    static int onOwnerChanged(sd_bus_message* m, void* self, sd_bus_error*);
    static int onInterfacesAdded(sd_bus_message* m, void* self, sd_bus_error*);
    static int onInterfacesRemoved(sd_bus_message* m, void* self, sd_bus_error*);
    static int onManagedObjects(sd_bus_message* m, void* self, sd_bus_error*);
    void ownerChanged(const std::string& oldOwner, const std::string& newOwner);
    void listObjects(const std::string& owner);
    void appear(std::vector<ObjectRecord> records);
    void vanish(const std::vector<std::string>& paths);
    void deliver(NotificationType type, const std::vector<RecordPtr>& records);
    void removeWatch(Handle iterator);

    BusPtr bus_;
    std::list<Watch> watches_;
    std::map<std::string, RecordPtr> known_;  // the current owner's objects by path
    std::string owner_;                        // the driver's unique name; "" when not running
    BusSlotPtr ownerMatch_, addedMatch_, removedMatch_, ownerQuery_;
    int listing_ = 0;  // listingStatus()
    bool watching_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace vexa::registry
