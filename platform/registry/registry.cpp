// Matching, properties and SetProperties over one process-wide connection.
#include "platform/registry/registry.h"

#include <systemd/sd-bus.h>

#include <cerrno>

#include "driver/bus_names.h"
#include "platform/registry/object_messages.h"
#include "platform/registry/registry_bus.h"

namespace vexa::registry {

bool Matching::matches(const ObjectRecord& record) const {
    if (record.text(driverbus::kClassProperty) != className) return false;
    return !locationID || record.integer(driverbus::kLocationIDProperty) == std::int64_t{*locationID};
}

int callStatus(int r, const sd_bus_error* error) {
    if (r >= 0) return 0;
    const int e = sd_bus_error_get_errno(error);
    return e > 0 ? -e : r;
}

namespace {

BusPtr& mainSlot() {
    static BusPtr bus;
    return bus;
}

// The connection itself failed (sd-bus names these System.Error.*).
bool connectionFailed(int r) { return r == -ECONNRESET || r == -ENOTCONN || r == -EPIPE; }

// The process's connection for calls; null when the system bus cannot be reached.
sd_bus* mainConnection() {
    BusPtr& bus = mainSlot();
    if (!bus || sd_bus_is_open(bus.get()) <= 0) {
        sd_bus* raw = nullptr;
        bus.reset();
        if (sd_bus_open_system(&raw) < 0) return nullptr;
        bus.reset(raw);
    }
    return bus.get();
}

}  // namespace

int call(sd_bus* bus, const MessageBuilder& build, sd_bus_error* error, BusMessagePtr* reply) {
    // On the process's connection, a connection that the bus dropped (the
    // bus was restarted) is opened anew once; every call here may be repeated.
    for (int attempt = 0;; ++attempt) {
        sd_bus* target = bus != nullptr ? bus : mainConnection();
        if (target == nullptr) return -ENOTCONN;
        sd_bus_message* raw = nullptr;
        int r = build(target, &raw);
        BusMessagePtr message(raw);
        if (r < 0) return r;
        sd_bus_message* out = nullptr;
        r = sd_bus_call(target, message.get(), kCallTimeoutUsec, error, &out);
        reply->reset(out);
        if (bus != nullptr || attempt > 0 || !connectionFailed(r)) return r;
        sd_bus_error_free(error);
        mainSlot().reset();
    }
}

int queryManagedObjects(sd_bus* bus, std::vector<ObjectRecord>* records, std::string* owner) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    BusMessagePtr reply;
    int r = call(
        bus,
        [](sd_bus* target, sd_bus_message** m) {
            const int r = sd_bus_message_new_method_call(target, m, driverbus::kBusName, driverbus::kManagerPath,
                                                         "org.freedesktop.DBus.ObjectManager", "GetManagedObjects");
            return r < 0 ? r : sd_bus_message_set_auto_start(*m, 0);
        },
        &error, &reply);
    owner->clear();
    if (r < 0) {
        // Nobody owns the driver's name: the driver is not running.
        const bool absent = sd_bus_error_has_names(&error, SD_BUS_ERROR_SERVICE_UNKNOWN, SD_BUS_ERROR_NAME_HAS_NO_OWNER);
        r = absent ? 0 : callStatus(r, &error);
        sd_bus_error_free(&error);
        return r;
    }
    const char* sender = sd_bus_message_get_sender(reply.get());
    *owner = sender != nullptr ? sender : "";
    return readManagedObjects(reply.get(), *owner, records);
}

int fetchProperties(ObjectRecord* record) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    BusMessagePtr reply;
    int r = call(
        nullptr,
        [record](sd_bus* target, sd_bus_message** m) {
            const int r = sd_bus_message_new_method_call(target, m, record->owner.c_str(), record->path.c_str(),
                                                         "org.freedesktop.DBus.Properties", "GetAll");
            return r < 0 ? r : sd_bus_message_append(*m, "s", driverbus::kInterface);
        },
        &error, &reply);
    r = callStatus(r, &error);
    sd_bus_error_free(&error);
    return r < 0 ? r : readPropertyMap(reply.get(), &record->properties);
}

bool driverIsRunning() {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    BusMessagePtr reply;
    const int r = call(
        nullptr,
        [](sd_bus* target, sd_bus_message** m) {
            const int r = sd_bus_message_new_method_call(target, m, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                         "org.freedesktop.DBus", "NameHasOwner");
            return r < 0 ? r : sd_bus_message_append(*m, "s", driverbus::kBusName);
        },
        &error, &reply);
    sd_bus_error_free(&error);
    int owned = 0;
    return r >= 0 && sd_bus_message_read(reply.get(), "b", &owned) >= 0 && owned != 0;
}

int getMatchingServices(const Matching& matching, Handle* iterator) {
    std::vector<ObjectRecord> records;
    std::string owner;
    const int r = queryManagedObjects(nullptr, &records, &owner);
    if (r < 0) return r;
    std::deque<RecordPtr> found;
    for (ObjectRecord& record : records) {
        if (matching.matches(record)) found.push_back(std::make_shared<const ObjectRecord>(std::move(record)));
    }
    *iterator = handles().addIterator(std::move(found));
    return 0;
}

bool matchingServiceExists(const Matching& matching) {
    Handle iterator = 0;
    if (getMatchingServices(matching, &iterator) < 0) return false;
    const Handle first = iteratorNext(iterator);
    objectRelease(first);
    objectRelease(iterator);
    return first != 0;
}

Handle iteratorNext(Handle iterator) { return handles().next(iterator); }

int objectRelease(Handle object) { return handles().release(object) ? 0 : -EBADF; }

std::optional<std::int64_t> entryIntegerProperty(Handle entry, const std::string& key) {
    const ObjectRecord* record = handles().entry(entry);
    return record != nullptr ? record->integer(key) : std::nullopt;
}

std::optional<std::string> entryTextProperty(Handle entry, const std::string& key) {
    const ObjectRecord* record = handles().entry(entry);
    return record != nullptr ? record->text(key) : std::nullopt;
}

std::string entryPath(Handle entry) {
    const ObjectRecord* record = handles().entry(entry);
    return record != nullptr ? record->path : std::string();
}

int entrySetDataProperty(Handle entry, const std::string& key, std::span<const std::uint8_t> bytes) {
    const ObjectRecord* record = handles().entry(entry);
    if (record == nullptr) return -EBADF;
    // Sent to the connection that published the object: a driver started
    // anew has new instances, even where it reuses an object path.
    sd_bus_error error = SD_BUS_ERROR_NULL;
    BusMessagePtr reply;
    int r = call(
        nullptr,
        [&](sd_bus* target, sd_bus_message** m) {
            int r = sd_bus_message_new_method_call(target, m, record->owner.c_str(), record->path.c_str(),
                                                   driverbus::kInterface, driverbus::kSetPropertiesMethod);
            if (r >= 0) r = sd_bus_message_open_container(*m, 'a', "{sv}");
            if (r >= 0) r = sd_bus_message_open_container(*m, 'e', "sv");
            if (r >= 0) r = sd_bus_message_append_basic(*m, 's', key.c_str());
            if (r >= 0) r = sd_bus_message_open_container(*m, 'v', "ay");
            if (r >= 0) r = sd_bus_message_append_array(*m, 'y', bytes.data(), bytes.size());
            for (int i = 0; i < 3 && r >= 0; ++i) r = sd_bus_message_close_container(*m);
            return r;
        },
        &error, &reply);
    r = callStatus(r, &error);
    sd_bus_error_free(&error);
    if (r < 0) return r;
    std::int32_t status = 0;
    r = sd_bus_message_read_basic(reply.get(), 'i', &status);
    return r < 0 ? r : status;
}

}  // namespace vexa::registry
