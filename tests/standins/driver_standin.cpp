#include "tests/standins/driver_standin.h"

#include <systemd/sd-bus.h>
#include <time.h>

#include <cstring>
#include <stdexcept>

#include "driver/bus_names.h"
#include "driver/bus_object.h"
#include "tests/standins/service_bus.h"

namespace vexa::test {

namespace names = driverbus;

struct StandinObject {
    DriverStandin::Instance instance;
    std::string path;
    DriverStandin* owner = nullptr;
    BusSlotPtr slot;
};

namespace {

DriverStandin::Instance& instanceOf(void* userdata) { return static_cast<StandinObject*>(userdata)->instance; }

int getClass(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void* userdata, sd_bus_error*) {
    return sd_bus_message_append(reply, "s", instanceOf(userdata).className.c_str());
}
int getVendor(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void* userdata, sd_bus_error*) {
    return sd_bus_message_append(reply, "i", instanceOf(userdata).vendor);
}
int getProduct(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void* userdata, sd_bus_error*) {
    return sd_bus_message_append(reply, "i", instanceOf(userdata).product);
}
int getLocation(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void* userdata,
                sd_bus_error*) {
    return sd_bus_message_append(reply, "u", instanceOf(userdata).location);
}

std::uint64_t nowUsec() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1'000'000 + static_cast<std::uint64_t>(ts.tv_nsec) / 1000;
}

int setProperties(sd_bus_message* m, void* userdata, sd_bus_error* error) {
    auto* object = static_cast<StandinObject*>(userdata);
    DriverStandin::Call call{object->path, {}, nowUsec()};
    // The argument read as the driver reads it.
    vexa::PropertyDictionary properties;
    const int r = vexa::readPropertyDictionary(m, &properties);
    if (r < 0) return r;
    if (const auto it = properties.find(names::kKeymapProperty); it != properties.end()) {
        if (const auto* bytes = std::get_if<std::vector<std::uint8_t>>(&it->second)) call.table = *bytes;
    }
    DriverStandin* self = object->owner;
    const DriverStandin::Instance answer = object->instance;  // the callback may change it
    self->calls.push_back(call);
    if (self->onCall) self->onCall(self->calls.back());
    if (!answer.busError.empty()) return sd_bus_error_set(error, answer.busError.c_str(), "refused by the stand-in");
    return sd_bus_reply_method_return(m, "i", answer.status);
}

// Answers GetManagedObjects with the error asked for, ahead of the object manager.
int failListing(sd_bus_message* m, void* userdata, sd_bus_error* error) {
    const std::string& listingError = static_cast<DriverStandin*>(userdata)->listingError;
    if (listingError.empty() || !sd_bus_message_is_method_call(m, "org.freedesktop.DBus.ObjectManager",
                                                               "GetManagedObjects")) {
        return 0;
    }
    return sd_bus_error_set(error, listingError.c_str(), "refused by the stand-in");
}

const sd_bus_vtable kVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY(names::kClassProperty, "s", getClass, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY(names::kVendorIDProperty, "i", getVendor, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY(names::kProductIDProperty, "i", getProduct, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY(names::kLocationIDProperty, "u", getLocation, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_METHOD_WITH_ARGS(names::kSetPropertiesMethod, SD_BUS_ARGS("a{sv}", properties), SD_BUS_RESULT("i", status),
                            setProperties, 0),
    SD_BUS_VTABLE_END,
};

}  // namespace

DriverStandin::DriverStandin() { connect(); }

DriverStandin::~DriverStandin() { stop(); }

std::string DriverStandin::pathOf(const std::string& name) { return std::string(names::kManagerPath) + "/" + name; }

void DriverStandin::addObject(StandinObject& object) {
    object.slot = publishObject(bus_.get(), object.path, names::kInterface, kVtable, &object);
}

void DriverStandin::connect() {
    bus_ = connectService(ServiceBus::System);
    sd_bus_slot* slot = nullptr;
    sd_bus_add_object_manager(bus_.get(), &slot, names::kManagerPath);
    manager_.reset(slot);
    sd_bus_add_filter(bus_.get(), &slot, failListing, this);
    listingFilter_.reset(slot);
    for (auto& [path, object] : objects_) {
        addObject(*object);
        sd_bus_emit_object_added(bus_.get(), path.c_str());
    }
    takeName(bus_.get(), names::kBusName);
}

void DriverStandin::stop() {
    for (auto& [path, object] : objects_) object->slot.reset();
    manager_.reset();
    listingFilter_.reset();
    if (bus_) sd_bus_detach_event(bus_.get());
    bus_.reset();
}

void DriverStandin::restart() {
    stop();
    connect();
}

std::string DriverStandin::publish(const Instance& instance) {
    auto object = std::make_unique<StandinObject>();
    object->instance = instance;
    object->path = pathOf(instance.name);
    object->owner = this;
    const std::string path = object->path;
    addObject(*object);
    objects_[path] = std::move(object);
    sd_bus_emit_object_added(bus_.get(), path.c_str());
    return path;
}

void DriverStandin::unpublish(const std::string& path) {
    const auto it = objects_.find(path);
    if (it == objects_.end()) return;
    sd_bus_emit_object_removed(bus_.get(), path.c_str());
    objects_.erase(it);
}

void DriverStandin::setAnswer(const std::string& path, std::int32_t status, const std::string& busError) {
    const auto it = objects_.find(path);
    if (it == objects_.end()) return;
    it->second->instance.status = status;
    it->second->instance.busError = busError;
}

}  // namespace vexa::test
