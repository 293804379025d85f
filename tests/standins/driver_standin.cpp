#include "tests/standins/driver_standin.h"

#include <systemd/sd-bus.h>
#include <time.h>

#include <cstring>
#include <stdexcept>

#include "driver/bus_names.h"

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

// The "VexaKeyMap" bytes of an a{sv} argument (other entries skipped).
int readTable(sd_bus_message* m, std::vector<std::uint8_t>* table) {
    int r = sd_bus_message_enter_container(m, 'a', "{sv}");
    if (r < 0) return r;
    while ((r = sd_bus_message_enter_container(m, 'e', "sv")) > 0) {
        const char* key = nullptr;
        const char* contents = nullptr;
        if ((r = sd_bus_message_read_basic(m, 's', &key)) < 0) return r;
        if ((r = sd_bus_message_peek_type(m, nullptr, &contents)) < 0) return r;
        if (std::strcmp(key, names::kKeymapProperty) == 0 && std::strcmp(contents, "ay") == 0) {
            const void* bytes = nullptr;
            std::size_t size = 0;
            if ((r = sd_bus_message_enter_container(m, 'v', "ay")) < 0) return r;
            if ((r = sd_bus_message_read_array(m, 'y', &bytes, &size)) < 0) return r;
            table->assign(static_cast<const std::uint8_t*>(bytes), static_cast<const std::uint8_t*>(bytes) + size);
            if ((r = sd_bus_message_exit_container(m)) < 0) return r;
        } else if ((r = sd_bus_message_skip(m, "v")) < 0) {
            return r;
        }
        if ((r = sd_bus_message_exit_container(m)) < 0) return r;
    }
    return r;
}

int setProperties(sd_bus_message* m, void* userdata, sd_bus_error* error) {
    auto* object = static_cast<StandinObject*>(userdata);
    DriverStandin::Call call{object->path, {}, nowUsec()};
    const int r = readTable(m, &call.table);
    if (r < 0) return r;
    DriverStandin* self = object->owner;
    const DriverStandin::Instance answer = object->instance;  // the callback may change it
    self->calls.push_back(call);
    if (self->onCall) self->onCall(self->calls.back());
    if (!answer.busError.empty()) return sd_bus_error_set(error, answer.busError.c_str(), "refused by the stand-in");
    return sd_bus_reply_method_return(m, "i", answer.status);
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
    sd_bus_slot* slot = nullptr;
    if (sd_bus_add_object_vtable(bus_.get(), &slot, object.path.c_str(), names::kInterface, kVtable, &object) < 0)
        throw std::runtime_error("stand-in: cannot publish " + object.path);
    object.slot.reset(slot);
}

void DriverStandin::connect() {
    sd_bus* raw = nullptr;
    sd_event* loop = nullptr;
    if (sd_bus_open_system(&raw) < 0) throw std::runtime_error("stand-in: no system bus");
    bus_.reset(raw);
    sd_event_default(&loop);
    sd_bus_attach_event(bus_.get(), loop, 0);
    sd_event_unref(loop);
    sd_bus_slot* slot = nullptr;
    sd_bus_add_object_manager(bus_.get(), &slot, names::kManagerPath);
    manager_.reset(slot);
    for (auto& [path, object] : objects_) {
        addObject(*object);
        sd_bus_emit_object_added(bus_.get(), path.c_str());
    }
    if (sd_bus_request_name(bus_.get(), names::kBusName, 0) < 0)
        throw std::runtime_error("stand-in: cannot own the driver's name");
}

void DriverStandin::stop() {
    for (auto& [path, object] : objects_) object->slot.reset();
    manager_.reset();
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
