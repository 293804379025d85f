#include "tests/standins/notification_standin.h"

#include <systemd/sd-bus.h>

#include <cstring>
#include <filesystem>

#include "tests/standins/service_bus.h"

namespace vexa::test {

namespace {

int readHints(sd_bus_message* m, NotificationStandin::Notification* n) {
    int r = sd_bus_message_enter_container(m, 'a', "{sv}");
    if (r < 0) return r;
    while ((r = sd_bus_message_enter_container(m, 'e', "sv")) > 0) {
        const char* key = nullptr;
        if ((r = sd_bus_message_read_basic(m, 's', &key)) < 0) return r;
        if (std::strcmp(key, "urgency") == 0) {
            std::uint8_t urgency = 0;
            if ((r = sd_bus_message_read(m, "v", "y", &urgency)) < 0) return r;
            n->urgency = urgency;
        } else if (std::strcmp(key, "sound-name") == 0) {
            const char* sound = nullptr;
            if ((r = sd_bus_message_read(m, "v", "s", &sound)) < 0) return r;
            n->soundName = sound;
        } else if ((r = sd_bus_message_skip(m, "v")) < 0) {
            return r;
        }
        if ((r = sd_bus_message_exit_container(m)) < 0) return r;
    }
    if (r < 0) return r;
    return sd_bus_message_exit_container(m);
}

int notify(sd_bus_message* m, void* userdata, sd_bus_error*) {
    auto* self = static_cast<NotificationStandin*>(userdata);
    NotificationStandin::Notification n;
    const char *app = nullptr, *icon = nullptr, *summary = nullptr, *body = nullptr;
    std::uint32_t replaces = 0;
    int r = sd_bus_message_read(m, "susss", &app, &replaces, &icon, &summary, &body);
    if (r >= 0) r = sd_bus_message_skip(m, "as");
    if (r >= 0) r = readHints(m, &n);
    if (r >= 0) r = sd_bus_message_read(m, "i", &n.expireTimeout);
    if (r < 0) return r;
    n.appName = app;
    n.summary = summary;
    n.body = body;
    sd_bus_creds* creds = nullptr;
    if (sd_bus_query_sender_creds(m, SD_BUS_CREDS_EUID | SD_BUS_CREDS_PID | SD_BUS_CREDS_AUGMENT, &creds) >= 0) {
        uid_t uid = 0;
        if (sd_bus_creds_get_euid(creds, &uid) >= 0) n.senderUid = uid;
        pid_t pid = -1;
        if (sd_bus_creds_get_pid(creds, &pid) >= 0) {
            n.senderPid = pid;
            n.senderFiles = openFilesOf(pid);
        }
        sd_bus_creds_unref(creds);
    }
    self->received.push_back(std::move(n));
    return sd_bus_reply_method_return(m, "u", static_cast<std::uint32_t>(self->received.size()));
}

int capabilities(sd_bus_message* m, void* userdata, sd_bus_error*) {
    auto* self = static_cast<NotificationStandin*>(userdata);
    if (self->bodyMarkup) return sd_bus_reply_method_return(m, "as", 2, "body", "body-markup");
    return sd_bus_reply_method_return(m, "as", 1, "body");
}

const sd_bus_vtable kVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Notify", "susssasa{sv}i", "u", notify, 0),
    SD_BUS_METHOD("GetCapabilities", "", "as", capabilities, 0),
    SD_BUS_VTABLE_END,
};

}  // namespace

std::set<std::string> openFilesOf(pid_t pid) {
    std::set<std::string> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        const std::string name = entry.path().filename();
        if (name == "0" || name == "1" || name == "2") continue;
        const auto target = std::filesystem::read_symlink(entry.path(), error);
        if (!error) files.insert(target.string());
    }
    return files;
}

NotificationStandin::NotificationStandin(bool markup) : bodyMarkup(markup) {
    bus_ = connectService(ServiceBus::Session);
    object_ = publishObject(bus_.get(), "/org/freedesktop/Notifications", "org.freedesktop.Notifications", kVtable, this);
    takeName(bus_.get(), "org.freedesktop.Notifications");
}

NotificationStandin::~NotificationStandin() {
    object_.reset();
    if (bus_) sd_bus_detach_event(bus_.get());
}

}  // namespace vexa::test
