#include "platform/shell/shell_command.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>

extern char** environ;

namespace vexa::shell {

namespace {

constexpr char kShell[] = "/bin/sh";

// The shell's way of reporting how a command ended.
int exitStatusOf(int waitStatus) {
    if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus)) return 128 + WTERMSIG(waitStatus);
    return -ECHILD;
}

int reap(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -errno;
    }
    return exitStatusOf(status);
}

}  // namespace

ShellCommand::ShellCommand(std::string commandLine) : commandLine_(std::move(commandLine)) {}

ShellCommand::~ShellCommand() {
    if (pid_ > 0 && !done_) {
        ::kill(pid_, SIGKILL);
        reap(pid_);
    }
}

int ShellCommand::start() {
    if (pid_ > 0 || done_) return 0;
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    if (int r = posix_spawn_file_actions_init(&actions); r != 0) return -r;
    int r = posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    // The child starts with default signal handling and no signal blocked,
    // whatever the program has set up for itself.
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    if (r == 0) r = posix_spawnattr_init(&attributes);
    if (r == 0) {
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setsigdefault(&attributes, &all);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        char* const argv[] = {const_cast<char*>(kShell), const_cast<char*>("-c"), commandLine_.data(), nullptr};
        r = posix_spawn(&pid_, kShell, &actions, &attributes, argv, environ);
        posix_spawnattr_destroy(&attributes);
    }
    posix_spawn_file_actions_destroy(&actions);
    if (r != 0) {
        pid_ = 0;
        done_ = true;
        status_ = -r;
        return -r;
    }
    return 0;
}

int ShellCommand::wait() {
    if (!done_) {
        if (const int r = start(); r < 0) return r;
        if (!done_) {
            status_ = reap(pid_);
            done_ = true;
        }
    }
    return status_;
}

int runShellCommand(const std::string& commandLine) { return ShellCommand(commandLine).wait(); }

}  // namespace vexa::shell
