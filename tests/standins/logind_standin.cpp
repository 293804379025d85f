#include "tests/standins/logind_standin.h"

#include <systemd/sd-bus.h>

#include <stdexcept>

namespace vexa::test {

namespace {

constexpr char kName[] = "org.freedesktop.login1";
constexpr char kSeatPath[] = "/org/freedesktop/login1/seat/seat0";
constexpr char kSeatInterface[] = "org.freedesktop.login1.Seat";
constexpr char kSessionInterface[] = "org.freedesktop.login1.Session";

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
    SD_BUS_PROPERTY("ActiveSession", "(so)", readActiveSession, 0, SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE),
    SD_BUS_VTABLE_END,
};

const sd_bus_vtable kSessionVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY("Id", "s", readSessionId, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("User", "(uo)", readSessionUser, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Name", "s", readSessionName, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_VTABLE_END,
};

}  // namespace

LogindStandin::LogindStandin() {
    sd_bus* raw = nullptr;
    sd_event* loop = nullptr;
    if (sd_bus_open_system(&raw) < 0) throw std::runtime_error("logind stand-in: no system bus");
    bus_.reset(raw);
    sd_event_default(&loop);
    sd_bus_attach_event(bus_.get(), loop, 0);
    sd_event_unref(loop);
    sd_bus_slot* slot = nullptr;
    if (sd_bus_add_object_vtable(bus_.get(), &slot, kSeatPath, kSeatInterface, kSeatVtable, this) < 0)
        throw std::runtime_error("logind stand-in: cannot publish seat0");
    seat_.reset(slot);
    if (sd_bus_request_name(bus_.get(), kName, 0) < 0) throw std::runtime_error("logind stand-in: cannot own its name");
}

LogindStandin::~LogindStandin() {
    seat_.reset();
    for (Session& s : sessions_) s.slot.reset();
    if (bus_) sd_bus_detach_event(bus_.get());
}

void LogindStandin::activate(const std::optional<User>& user) {
    active_ = nullptr;
    if (user) {
        Session& s = sessions_.emplace_back();
        s.id = std::to_string(sessions_.size() + 1);
        s.path = "/org/freedesktop/login1/session/_3" + s.id;
        s.user = *user;
        sd_bus_slot* slot = nullptr;
        if (sd_bus_add_object_vtable(bus_.get(), &slot, s.path.c_str(), kSessionInterface, kSessionVtable, &s) < 0)
            throw std::runtime_error("logind stand-in: cannot publish a session");
        s.slot.reset(slot);
        active_ = &s;
    }
    announce();
}

void LogindStandin::announce() {
    sd_bus_emit_properties_changed(bus_.get(), kSeatPath, kSeatInterface, "ActiveSession", nullptr);
}

}  // namespace vexa::test
