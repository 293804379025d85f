#include "platform/notice/notice.h"

#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <syslog.h>
#include <systemd/sd-bus.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "platform/console/console.h"
#include "platform/glue/log.h"

namespace vexa::notice {

namespace {

// The desktop child ends by itself after this long, whatever it waits for.
constexpr unsigned kDesktopSeconds = 10;
constexpr char kNotifications[] = "org.freedesktop.Notifications";
constexpr char kNotificationsPath[] = "/org/freedesktop/Notifications";

// Takes the user's groups, group ID and user ID for good.
bool becomeUser(const console::ConsoleUser& user) {
    if (::initgroups(user.name.c_str(), user.gid) != 0 && ::setgroups(0, nullptr) != 0) return false;
    if (::setresgid(user.gid, user.gid, user.gid) != 0) return false;
    if (::setresuid(user.uid, user.uid, user.uid) != 0) return false;
    return ::getuid() == user.uid && ::geteuid() == user.uid && ::getegid() == user.gid;
}

bool serverReadsMarkup(sd_bus* bus) {
    sd_bus_message* reply = nullptr;
    if (sd_bus_call_method(bus, kNotifications, kNotificationsPath, kNotifications, "GetCapabilities", nullptr,
                           &reply, "") < 0) {
        return false;
    }
    bool markup = false;
    const char* capability = nullptr;
    if (sd_bus_message_enter_container(reply, 'a', "s") > 0) {
        while (sd_bus_message_read_basic(reply, 's', &capability) > 0) {
            if (std::string_view(capability) == "body-markup") markup = true;
        }
    }
    sd_bus_message_unref(reply);
    return markup;
}

// Closes every descriptor above standard error.
void closeInheritedDescriptors() {
    if (::close_range(3, ~0U, 0) == 0) return;
    // Kernels before 5.9 (or a filter that does not know the call): one by
    // one, up to the service's limit of descriptors (1024 unless raised).
    rlimit limit{};
    rlim_t last = 65536;
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < last) last = limit.rlim_cur;
    for (rlim_t fd = 3; fd < last; ++fd) ::close(static_cast<int>(fd));
}

// The child's work: find the console user, become that user, notify.
[[noreturn]] void notifyDesktop(const Notice& notice) {
    // What the service holds (its bus connections, its event loop, its
    // signal descriptor) is not the child's, least of all once it is the
    // user: it works with connections of its own.
    closeInheritedDescriptors();
    // The service's loop blocks signals it reads from a descriptor; a
    // child that kept them blocked would outlive a stop.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    ::alarm(kDesktopSeconds);

    std::optional<console::ConsoleUser> user;
    sd_bus* system = nullptr;
    if (sd_bus_open_system(&system) >= 0) user = console::readConsoleUser(system);
    sd_bus_close_unref(system);
    if (!user) ::_exit(0);  // nobody to show it to
    if (!becomeUser(*user)) ::_exit(1);
    if (std::getenv("DBUS_SESSION_BUS_ADDRESS") == nullptr) {
        const std::string runtime = "/run/user/" + std::to_string(user->uid);
        ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    }
    sd_bus* session = nullptr;
    if (sd_bus_open_user(&session) < 0) ::_exit(1);
    const std::string body = serverReadsMarkup(session) ? escapeMarkup(notice.text) : notice.text;
    sd_bus_message* call = nullptr;
    int r = sd_bus_message_new_method_call(session, &call, kNotifications, kNotificationsPath, kNotifications,
                                           "Notify");
    // No actions; the urgency and the sound as hints; no time-out: it stays until dismissed.
    if (r >= 0) r = sd_bus_message_append(call, "susssas", notice.appName.c_str(), 0u, "", notice.header.c_str(),
                                          body.c_str(), 0);
    if (r >= 0) r = sd_bus_message_open_container(call, 'a', "{sv}");
    if (r >= 0) r = sd_bus_message_append(call, "{sv}", "urgency", "y", urgency(notice.level));
    if (r >= 0 && notice.sound) r = sd_bus_message_append(call, "{sv}", "sound-name", "s", "dialog-warning");
    if (r >= 0) r = sd_bus_message_close_container(call);
    if (r >= 0) r = sd_bus_message_append(call, "i", 0);
    if (r >= 0) r = sd_bus_call(session, call, 0, nullptr, nullptr);
    sd_bus_message_unref(call);
    sd_bus_flush_close_unref(session);
    ::_exit(r < 0 ? 1 : 0);
}

}  // namespace

bool standardErrorIsJournal() {
    // systemd names the stream it connects a service's output to as
    // "device:inode" (JOURNAL_STREAM); a descriptor that is no longer that
    // stream (redirected by the service or its caller) does not count.
    const char* stream = std::getenv("JOURNAL_STREAM");
    unsigned long long device = 0, inode = 0;
    if (stream == nullptr || std::sscanf(stream, "%llu:%llu", &device, &inode) != 2) return false;
    struct stat st {};
    if (::fstat(STDERR_FILENO, &st) != 0) return false;
    return st.st_dev == device && st.st_ino == inode;
}

int journalPriority(Level level) {
    switch (level) {
    case Level::Stop: return LOG_ERR;
    case Level::Caution: return LOG_WARNING;
    case Level::Note: break;
    }
    return LOG_NOTICE;
}

std::uint8_t urgency(Level level) {
    switch (level) {
    case Level::Stop: return 2;
    case Level::Caution: return 1;
    case Level::Note: break;
    }
    return 0;
}

std::string escapeMarkup(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        default: out += c;
        }
    }
    return out;
}

void writeToJournal(const Notice& notice) {
    const int priority = journalPriority(notice.level);
    const std::string message = notice.header + ": " + notice.text;
    // sd_journal_send also returns 0 when no journal listens: the entry may
    // have gone nowhere.
    const int sent = sd_journal_send("MESSAGE=%s", message.c_str(), "PRIORITY=%i", priority, "SYSLOG_IDENTIFIER=%s",
                                     notice.appName.c_str(), "VEXA_NOTICE_LEVEL=%i", static_cast<int>(notice.level),
                                     nullptr);
    // Run as a service, standard error is the journal too: writing the
    // notice there as well would show it twice. Anywhere else (a terminal,
    // no journal at all) it goes to standard error, one line per line of
    // text, each with the priority prefix.
    if (sent >= 0 && standardErrorIsJournal()) return;
    std::string_view rest = notice.text;
    for (;;) {
        const auto end = rest.find('\n');
        const std::string_view line = rest.substr(0, end);
        std::fprintf(stderr, "<%d>%s: %.*s\n", priority, notice.header.c_str(), static_cast<int>(line.size()),
                     line.data());
        if (end == std::string_view::npos) break;
        rest.remove_prefix(end + 1);
    }
    std::fflush(stderr);
}

void showOnDesktop(const Notice& notice) {
    const pid_t child = ::fork();
    if (child < 0) {
        logErrno(-errno, SD_WARNING "%s: the notice cannot be shown on the desktop", notice.appName.c_str());
        return;
    }
    if (child == 0) {
        // This child only starts the one that does the work and ends, so
        // the service waits for nothing and leaves no zombie behind.
        const pid_t worker = ::fork();
        if (worker == 0) notifyDesktop(notice);
        ::_exit(worker < 0 ? 1 : 0);
    }
    while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace vexa::notice
