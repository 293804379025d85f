#include "tests/standins/logind_standin.h"

#include <systemd/sd-bus.h>

#include "platform/console/logind_names.h"
#include "tests/standins/service_bus.h"

namespace vexa::test {

namespace {

using namespace vexa::logind;

LogindStandin::Session& sessionOf(void* userdata) { return *static_cast<LogindStandin::Session*>(userdata); }

int readSessionId(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void* userdata,
                  sd_bus_error*) {
    return sd_bus_message_append(reply, "s", sessionOf(userdata).id.c_str());
}

int readSessionUser(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void* userdata,
                    sd_bus_error*) {
    const auto& user = sessionOf(userdata).user;
    const std::string path = "/org/freedesktop/login1/user/_" + std::to_string(user.uid);
    return sd_bus_message_append(reply, "(uo)", user.uid, path.c_str());
}

int readSessionName(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void* userdata,
                    sd_bus_error*) {
    LogindStandin::Session& session = sessionOf(userdata);
    ++session.nameReads;
    return sd_bus_message_append(reply, "s", session.user.name.c_str());
}

}  // namespace

int readActiveSession(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void* userdata,
                      sd_bus_error*) {
    const auto* self = static_cast<LogindStandin*>(userdata);
    if (self->active_ == nullptr) return sd_bus_message_append(reply, "(so)", "", "/");
    return sd_bus_message_append(reply, "(so)", self->active_->id.c_str(), self->active_->path.c_str());
}

namespace {

const sd_bus_vtable kSeatVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY(kActiveSession, "(so)", readActiveSession, 0, SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE),
    SD_BUS_VTABLE_END,
};

const sd_bus_vtable kSessionVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY("Id", "s", readSessionId, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY(kUser, "(uo)", readSessionUser, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY(kName, "s", readSessionName, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_VTABLE_END,
};

}  // namespace

LogindStandin::LogindStandin() { connect(); }

LogindStandin::~LogindStandin() { stop(); }

void LogindStandin::connect() {
    bus_ = connectService(ServiceBus::System);
    seat_ = publishObject(bus_.get(), kSeatPath, kSeatInterface, kSeatVtable, this);
    for (Session& s : sessions_) s.slot = publishObject(bus_.get(), s.path, kSessionInterface, kSessionVtable, &s);
    takeName(bus_.get(), kBusName);
}

void LogindStandin::stop() {
    seat_.reset();
    for (Session& s : sessions_) s.slot.reset();
    if (bus_) sd_bus_detach_event(bus_.get());
    bus_.reset();
}

void LogindStandin::restart() {
    stop();
    connect();
}

void LogindStandin::activate(const std::optional<User>& user) {
    active_ = nullptr;
    if (user) {
        Session& s = sessions_.emplace_back();
        s.id = std::to_string(sessions_.size() + 1);
        s.path = "/org/freedesktop/login1/session/_3" + s.id;
        s.user = *user;
        if (bus_) s.slot = publishObject(bus_.get(), s.path, kSessionInterface, kSessionVtable, &s);
        active_ = &s;
    }
    announce();
}

void LogindStandin::announce() {
    if (bus_) sd_bus_emit_properties_changed(bus_.get(), kSeatPath, kSeatInterface, "ActiveSession", nullptr);
}

}  // namespace vexa::test
