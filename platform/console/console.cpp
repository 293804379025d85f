#include "platform/console/console.h"

#include <limits.h>
#include <pwd.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/console/logind_names.h"
#include "platform/glue/bus.h"

namespace vexa::console {

namespace {

using namespace vexa::logind;
constexpr char kProperties[] = "org.freedesktop.DBus.Properties";

std::optional<std::uint32_t> groupOf(std::uint32_t uid) {
    std::vector<char> buffer(4096);
    for (;;) {
        passwd entry{};
        passwd* found = nullptr;
        const int r = ::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found);
        if (r == ERANGE && buffer.size() < (1u << 20)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (r != 0 || found == nullptr) return std::nullopt;
        return found->pw_gid;
    }
}

// One reading: seat0's active session, then its User, then its Name.
struct LogindReading {
    // Unreachable: logind did not answer (gone, restarting, stuck), which
    // says nothing about who is at the console.
    enum class Next { Ask, User, Nobody, Unreachable };
    int step = 0;
    std::string sessionPath;
    ConsoleUser user;

    // The Properties.Get call of the current step.
    int question(sd_bus* bus, sd_bus_message** out) const {
        static constexpr const char* kProperty[] = {kActiveSession, kUser, kName};
        const bool seat = step == 0;
        int r = sd_bus_message_new_method_call(bus, out, kBusName, seat ? kSeatPath : sessionPath.c_str(), kProperties,
                                               "Get");
        if (r >= 0) r = sd_bus_message_append(*out, "ss", seat ? kSeatInterface : kSessionInterface, kProperty[step]);
        if (r >= 0) r = sd_bus_message_set_auto_start(*out, 0);
        return r;
    }

    // Takes the answer to the current step.
    Next answer(sd_bus_message* reply) {
        if (const sd_bus_error* error = sd_bus_message_get_error(reply)) {
            return sd_bus_error_has_names(error, SD_BUS_ERROR_SERVICE_UNKNOWN, SD_BUS_ERROR_NAME_HAS_NO_OWNER,
                                          SD_BUS_ERROR_NO_REPLY, SD_BUS_ERROR_TIMEOUT, SD_BUS_ERROR_DISCONNECTED)
                       ? Next::Unreachable
                       : Next::Nobody;
        }
        switch (step) {
        case 0: {
            const char *id = nullptr, *path = nullptr;
            if (sd_bus_message_read(reply, "v", "(so)", &id, &path) < 0) return Next::Nobody;
            if (std::strcmp(path, "/") == 0 || id[0] == '\0') return Next::Nobody;  // no active session
            sessionPath = path;
            break;
        }
        case 1: {
            const char* userPath = nullptr;
            if (sd_bus_message_read(reply, "v", "(uo)", &user.uid, &userPath) < 0) return Next::Nobody;
            break;
        }
        default: {
            const char* name = nullptr;
            if (sd_bus_message_read(reply, "v", "s", &name) < 0 || name[0] == '\0') return Next::Nobody;
            user.name = name;
            const auto gid = groupOf(user.uid);
            if (!gid) return Next::Nobody;  // a user this system cannot name
            user.gid = *gid;
            return Next::User;
        }
        }
        ++step;
        return Next::Ask;
    }
};

}  // namespace

struct ConsoleStore::Reading : LogindReading {};

std::string localHostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return "";
    return name;
}

std::optional<ConsoleUser> readConsoleUser(sd_bus* bus, std::uint64_t timeoutUsec) {
    LogindReading reading;
    for (;;) {
        sd_bus_message* raw = nullptr;
        int r = reading.question(bus, &raw);
        BusMessagePtr question(raw);
        if (r < 0) return std::nullopt;
        sd_bus_message* reply = nullptr;
        r = sd_bus_call(bus, question.get(), timeoutUsec, nullptr, &reply);
        BusMessagePtr answer(reply);
        if (r < 0) return std::nullopt;
        switch (reading.answer(reply)) {
        case LogindReading::Next::Ask: continue;
        case LogindReading::Next::User: return reading.user;
        case LogindReading::Next::Nobody:
        case LogindReading::Next::Unreachable: return std::nullopt;
        }
    }
}

ConsoleStore::ConsoleStore(Callback callback) : callback_(std::move(callback)) {}

std::unique_ptr<ConsoleStore> ConsoleStore::create(Callback callback) {
    sd_bus* raw = nullptr;
    if (sd_bus_open_system(&raw) < 0) return nullptr;
    std::unique_ptr<ConsoleStore> store(new ConsoleStore(std::move(callback)));
    store->bus_.reset(raw);
    return store;
}

ConsoleStore::~ConsoleStore() {
    pending_.reset();
    seatMatch_.reset();
    ownerMatch_.reset();
    if (bus_) sd_bus_detach_event(bus_.get());
}

std::string ConsoleStore::consoleUserKey() {
    return std::string("type='signal',sender='") + kBusName + "',path='" + kSeatPath + "',interface='" + kProperties +
           "',member='PropertiesChanged'";
}

int ConsoleStore::setNotificationKey(const std::string& key) {
    sd_bus_slot* slot = nullptr;
    int r = sd_bus_add_match(bus_.get(), &slot, key.c_str(), onChange, this);
    if (r < 0) return r;
    BusSlotPtr seatMatch(slot);
    r = sd_bus_add_match(bus_.get(), &slot, vexa::nameOwnerChangedRule(kBusName).c_str(), onOwnerChanged, this);
    if (r < 0) return r;
    ownerMatch_.reset(slot);
    seatMatch_ = std::move(seatMatch);
    return 0;
}

int ConsoleStore::attachToDefaultLoop() { return vexa::attachToDefaultLoop(bus_.get()); }

void ConsoleStore::detachFromLoop() {
    pending_.reset();
    reading_.reset();
    sd_bus_detach_event(bus_.get());
}

std::optional<ConsoleUser> ConsoleStore::copyConsoleUser() {
    if (!haveRead_) {
        user_ = readConsoleUser(bus_.get());
        haveRead_ = true;
    }
    return user_;
}

int ConsoleStore::onChange(sd_bus_message*, void* self, sd_bus_error*) {
    static_cast<ConsoleStore*>(self)->startReading();
    return 0;
}

int ConsoleStore::onOwnerChanged(sd_bus_message* m, void* self, sd_bus_error*) {
    const char *name = nullptr, *oldOwner = nullptr, *newOwner = nullptr;
    if (sd_bus_message_read(m, "sss", &name, &oldOwner, &newOwner) < 0) return 0;
    auto* store = static_cast<ConsoleStore*>(self);
    if (newOwner[0] != '\0') {
        store->startReading();  // logind (re)started: ask it afresh
        return 0;
    }
    // logind stopped (a restart, most often): nobody logged out, so the
    // latest reading stands until a new logind answers.
    store->pending_.reset();
    store->reading_.reset();
    return 0;
}

void ConsoleStore::startReading() {
    pending_.reset();  // a newer change makes an older reading moot
    reading_ = std::make_unique<Reading>();
    if (askNext() < 0) reading_.reset();  // the bus failed: the latest reading stands
}

int ConsoleStore::askNext() {
    sd_bus_message* raw = nullptr;
    int r = reading_->question(bus_.get(), &raw);
    BusMessagePtr question(raw);
    if (r < 0) return r;
    sd_bus_slot* slot = nullptr;
    // No time limit of our own: the loop goes on meanwhile, and a change
    // that comes first starts a new reading.
    r = sd_bus_call_async(bus_.get(), &slot, question.get(), onReply, this, 0);
    if (r < 0) return r;
    pending_.reset(slot);
    return 0;
}

int ConsoleStore::onReply(sd_bus_message* reply, void* self, sd_bus_error*) {
    auto* store = static_cast<ConsoleStore*>(self);
    BusSlotPtr done = std::move(store->pending_);
    switch (store->reading_->answer(reply)) {
    case Reading::Next::Ask:
        if (store->askNext() < 0) store->reading_.reset();
        break;
    case Reading::Next::User: store->finishReading(store->reading_->user); break;
    case Reading::Next::Nobody: store->finishReading(std::nullopt); break;
    // No answer is no news: the latest reading stands, and logind's next
    // start or change starts a new one.
    case Reading::Next::Unreachable: store->reading_.reset(); break;
    }
    return 0;
}

void ConsoleStore::finishReading(std::optional<ConsoleUser> user) {
    reading_.reset();
    user_ = std::move(user);
    haveRead_ = true;
    if (callback_) callback_();  // last: the callback may destroy the store
}

}  // namespace vexa::console
