#include "tests/standins/daemon_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <stdexcept>

extern char** environ;

namespace vexa::test {

namespace {

// A watched descriptor wakes the loop once; poll() reads it and arms it again.
int wakeOnce(sd_event_source* source, int, std::uint32_t, void*) {
    return sd_event_source_set_enabled(source, SD_EVENT_OFF);
}
void rearm(const EventSourcePtr& source) {
    if (source) sd_event_source_set_enabled(source.get(), SD_EVENT_ON);
}

}  // namespace

std::vector<std::string> environmentWithout(const std::vector<std::string>& names) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        if (std::find(names.begin(), names.end(), name) == names.end()) env.push_back(entry);
    }
    return env;
}

DaemonProcess::DaemonProcess(std::string program, std::string folder)
    : program_(std::move(program)), folder_(std::move(folder)) {
    // The daemon runs only under a parent named like the service manager.
    prctl(PR_GET_NAME, ownName_);
    prctl(PR_SET_NAME, "systemd");
    notify_ = Fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    sockaddr_un where{};
    where.sun_family = AF_UNIX;
    const std::string path = folder_ + "/notify";
    std::strncpy(where.sun_path, path.c_str(), sizeof where.sun_path - 1);
    if (!notify_ || ::bind(notify_.get(), reinterpret_cast<sockaddr*>(&where), sizeof where) != 0)
        throw std::runtime_error("cannot make the notification socket " + path);
    watch(notify_.get(), &notifySource_);
}

DaemonProcess::~DaemonProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    prctl(PR_SET_NAME, ownName_);
}

void DaemonProcess::watch(int fd, EventSourcePtr* source) {
    sd_event* loop = nullptr;
    sd_event_default(&loop);
    sd_event_source* raw = nullptr;
    sd_event_add_io(loop, &raw, fd, EPOLLIN, wakeOnce, nullptr);
    sd_event_unref(loop);
    source->reset(raw);
}

void DaemonProcess::start(std::vector<std::string> environment, const std::string& launcher) {
    environment.push_back("NOTIFY_SOCKET=" + folder_ + "/notify");
    std::vector<char*> envp;
    for (auto& e : environment) envp.push_back(e.data());
    envp.push_back(nullptr);
    // Another launcher: a shell run under that name starts the daemon.
    std::vector<std::string> args = {program_};
    std::string executable = program_;
    if (launcher != "systemd") {
        executable = folder_ + "/" + launcher;
        std::filesystem::create_symlink("/bin/sh", executable);
        args = {launcher, "-c", "\"$0\"; exit $?", program_};
    }
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
    const int r = ::posix_spawn(&pid_, executable.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    stderr_ = Fd(pipeFds[0]);
    if (r != 0) throw std::runtime_error("cannot start " + program_);
    ::fcntl(stderr_.get(), F_SETFL, O_NONBLOCK);
    pidfd_ = Fd(static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0)));
    if (!pidfd_) throw std::runtime_error("pidfd_open failed");
    ready_ = false;
    exited_.reset();
    watch(stderr_.get(), &stderrSource_);
    watch(pidfd_.get(), &exitSource_);
}

void DaemonProcess::terminate() {
    if (pid_ > 0) ::kill(pid_, SIGTERM);
}

void DaemonProcess::poll() {
    char buf[4096];
    ssize_t n = -1;
    while (stderr_ && (n = ::read(stderr_.get(), buf, sizeof buf)) > 0) log_.append(buf, static_cast<std::size_t>(n));
    if (n == 0) stderrSource_.reset();  // the daemon and its children are gone
    else rearm(stderrSource_);
    while ((n = ::recv(notify_.get(), buf, sizeof buf - 1, 0)) > 0) {
        buf[n] = '\0';
        if (std::strstr(buf, "READY=1") != nullptr) ready_ = true;
    }
    rearm(notifySource_);
    int status = 0;
    if (pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        pid_ = -1;
        exitSource_.reset();
        pidfd_.reset();
    } else {
        rearm(exitSource_);
    }
}

}  // namespace vexa::test
