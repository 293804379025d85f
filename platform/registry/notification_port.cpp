// The notification port: first-match and terminate notifications from the
// driver's object manager signals and from its bus name changing hands.
#include <systemd/sd-bus.h>

#include <algorithm>
#include <cerrno>

#include "driver/bus_names.h"
#include "platform/glue/bus.h"
#include "platform/registry/object_messages.h"
#include "platform/registry/registry.h"
#include "platform/registry/registry_bus.h"

namespace vexa::registry {

namespace {

constexpr char kObjectManager[] = "org.freedesktop.DBus.ObjectManager";

}  // namespace

struct NotificationPort::Watch {
    Handle iterator;
    NotificationType type;
    Matching matching;
    NotificationCallback callback;
    void* refcon;
};

std::unique_ptr<NotificationPort> NotificationPort::create() {
    sd_bus* raw = nullptr;
    if (sd_bus_open_system(&raw) < 0) return nullptr;
    std::unique_ptr<NotificationPort> port(new NotificationPort);
    port->bus_.reset(raw);
    return port;
}

NotificationPort::~NotificationPort() {
    *alive_ = false;
    // Slots go before the connection that carries them.
    ownerQuery_.reset();
    ownerMatch_.reset();
    addedMatch_.reset();
    removedMatch_.reset();
    if (bus_) sd_bus_detach_event(bus_.get());
}

int NotificationPort::attachToDefaultLoop() { return vexa::attachToDefaultLoop(bus_.get()); }

int NotificationPort::startWatching() {
    // Signals first, then the objects that exist: an object announced in
    // between arrives twice and is taken once.
    sd_bus_slot* slot = nullptr;
    int r = sd_bus_add_match(bus_.get(), &slot, nameOwnerChangedRule(driverbus::kBusName).c_str(), onOwnerChanged, this);
    if (r < 0) return r;
    BusSlotPtr ownerMatch(slot);
    r = sd_bus_match_signal(bus_.get(), &slot, driverbus::kBusName, driverbus::kManagerPath, kObjectManager,
                            "InterfacesAdded", onInterfacesAdded, this);
    if (r < 0) return r;
    BusSlotPtr addedMatch(slot);
    r = sd_bus_match_signal(bus_.get(), &slot, driverbus::kBusName, driverbus::kManagerPath, kObjectManager,
                            "InterfacesRemoved", onInterfacesRemoved, this);
    if (r < 0) return r;
    BusSlotPtr removedMatch(slot);
    std::vector<ObjectRecord> records;
    std::string owner;
    // A driver that fails to answer is watched all the same: what it
    // announces, or its next start, brings a new listing.
    listing_ = queryManagedObjects(bus_.get(), &records, &owner);

    ownerMatch_ = std::move(ownerMatch);
    addedMatch_ = std::move(addedMatch);
    removedMatch_ = std::move(removedMatch);
    owner_ = owner;
    for (ObjectRecord& record : records) {
        auto ptr = std::make_shared<const ObjectRecord>(std::move(record));
        known_.emplace(ptr->path, std::move(ptr));
    }
    watching_ = true;
    return 0;
}

int NotificationPort::addMatchingNotification(NotificationType type, const Matching& matching,
                                              NotificationCallback callback, void* refcon, Handle* iterator) {
    if (!watching_) {
        const int r = startWatching();
        if (r < 0) return r;
    }
    std::deque<RecordPtr> present;
    if (type == NotificationType::FirstMatch) {
        for (const auto& [path, record] : known_) {
            if (matching.matches(*record)) present.push_back(record);
        }
    }
    const Handle h = handles().addIterator(std::move(present), [this, alive = alive_](Handle released) {
        if (*alive) removeWatch(released);
    });
    watches_.push_back(Watch{h, type, matching, callback, refcon});
    *iterator = h;
    return 0;
}

void NotificationPort::removeWatch(Handle iterator) {
    watches_.remove_if([iterator](const Watch& w) { return w.iterator == iterator; });
}

int NotificationPort::onOwnerChanged(sd_bus_message* m, void* self, sd_bus_error*) {
    const char *name = nullptr, *oldOwner = nullptr, *newOwner = nullptr;
    if (sd_bus_message_read(m, "sss", &name, &oldOwner, &newOwner) < 0) return 0;
    static_cast<NotificationPort*>(self)->ownerChanged(oldOwner, newOwner);
    return 0;
}

void NotificationPort::ownerChanged(const std::string& oldOwner, const std::string& newOwner) {
    if (newOwner == owner_) return;  // already known from the first query
    std::shared_ptr<bool> alive = alive_;
    if (!owner_.empty() && oldOwner == owner_) {
        // The driver stopped: every object it published is gone.
        std::vector<std::string> paths;
        for (const auto& entry : known_) paths.push_back(entry.first);
        owner_.clear();
        ownerQuery_.reset();
        vanish(paths);
        if (!*alive) return;
    }
    if (newOwner.empty()) return;
    // A driver (re)started: each object it publishes is new.
    owner_ = newOwner;
    listObjects(newOwner);
}

// Asks the driver for all its objects without waiting; the reply delivers
// those not known yet.
void NotificationPort::listObjects(const std::string& owner) {
    sd_bus_slot* slot = nullptr;
    const int r = sd_bus_call_method_async(bus_.get(), &slot, owner.c_str(), driverbus::kManagerPath, kObjectManager,
                                           "GetManagedObjects", onManagedObjects, this, "");
    ownerQuery_.reset(r >= 0 ? slot : nullptr);
    if (r < 0) listing_ = r;
}

int NotificationPort::onManagedObjects(sd_bus_message* m, void* self, sd_bus_error*) {
    auto* port = static_cast<NotificationPort*>(self);
    BusSlotPtr done = std::move(port->ownerQuery_);  // this reply ends the query
    if (sd_bus_message_is_method_error(m, nullptr)) {
        // Gone again (its NameOwnerChanged follows), or it failed: the next
        // object it announces brings a new listing.
        const int e = sd_bus_message_get_errno(m);
        port->listing_ = e > 0 ? -e : -EIO;
        return 0;
    }
    const char* sender = sd_bus_message_get_sender(m);
    std::vector<ObjectRecord> records;
    if (sender == nullptr || sender != port->owner_) return 0;
    const int r = readManagedObjects(m, sender, &records);
    port->listing_ = r < 0 ? r : 0;
    if (r >= 0) port->appear(std::move(records));
    return 0;
}

int NotificationPort::onInterfacesAdded(sd_bus_message* m, void* self, sd_bus_error*) {
    auto* port = static_cast<NotificationPort*>(self);
    const char* sender = sd_bus_message_get_sender(m);
    ObjectRecord record;
    bool isInstance = false;
    if (sender == nullptr || readInterfacesAdded(m, sender, &record, &isInstance) < 0 || !isInstance) return 0;
    if (port->listing_ < 0 && !port->ownerQuery_) {
        // The driver failed to list its objects before and answers now:
        // besides this one, it may hold others nobody was told of.
        port->owner_ = sender;
        port->listObjects(sender);
    }
    std::vector<ObjectRecord> records;
    records.push_back(std::move(record));
    port->appear(std::move(records));
    return 0;
}

int NotificationPort::onInterfacesRemoved(sd_bus_message* m, void* self, sd_bus_error*) {
    std::string path;
    bool isInstance = false;
    if (readInterfacesRemoved(m, &path, &isInstance) < 0 || !isInstance) return 0;
    static_cast<NotificationPort*>(self)->vanish({path});
    return 0;
}

void NotificationPort::appear(std::vector<ObjectRecord> records) {
    std::vector<RecordPtr> fresh;
    for (ObjectRecord& record : records) {
        if (known_.count(record.path) != 0) continue;
        // An announcement without the properties: ask the object for them.
        if (!record.properties.count(driverbus::kClassProperty) && fetchProperties(&record) < 0) continue;
        auto ptr = std::make_shared<const ObjectRecord>(std::move(record));
        known_.emplace(ptr->path, ptr);
        fresh.push_back(std::move(ptr));
    }
    if (!fresh.empty()) deliver(NotificationType::FirstMatch, fresh);
}

void NotificationPort::vanish(const std::vector<std::string>& paths) {
    std::vector<RecordPtr> gone;
    for (const std::string& path : paths) {
        const auto it = known_.find(path);
        if (it == known_.end()) continue;
        gone.push_back(it->second);
        known_.erase(it);
    }
    if (!gone.empty()) deliver(NotificationType::Terminate, gone);
}

void NotificationPort::deliver(NotificationType type, const std::vector<RecordPtr>& records) {
    // Queue on every watch first, then call back those that were armed: a
    // callback may release watches or the port itself.
    std::vector<Watch> due;
    for (const Watch& w : watches_) {
        if (w.type != type) continue;
        bool armed = false;
        for (const RecordPtr& record : records) {
            if (w.matching.matches(*record)) armed = handles().queue(w.iterator, record) || armed;
        }
        if (armed) due.push_back(w);
    }
    std::shared_ptr<bool> alive = alive_;
    for (const Watch& w : due) {
        if (!*alive) return;
        if (handles().isIterator(w.iterator)) w.callback(w.refcon, w.iterator);
    }
}

}  // namespace vexa::registry
