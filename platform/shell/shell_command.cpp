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

// Starts argv[0] with the arguments in `argv` (null-ended), standard input
// from /dev/null when asked. 0 or a negative errno.
int spawn(char* const argv[], bool inputFromNull, pid_t* pid) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    if (int r = posix_spawn_file_actions_init(&actions); r != 0) return -r;
    int r = inputFromNull ? posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0) : 0;
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    if (r == 0) r = posix_spawnattr_init(&attributes);
    if (r == 0) {
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setsigdefault(&attributes, &all);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        r = posix_spawn(pid, argv[0], &actions, &attributes, argv, environ);
        posix_spawnattr_destroy(&attributes);
    }
    posix_spawn_file_actions_destroy(&actions);
    return -r;
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
    char* const argv[] = {const_cast<char*>(kShell), const_cast<char*>("-c"), commandLine_.data(), nullptr};
    if (const int r = spawn(argv, true, &pid_); r < 0) {
        pid_ = 0;
        done_ = true;
        status_ = r;
        return r;
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

int runProgram(const std::vector<std::string>& argv) {
    if (argv.empty()) return -EINVAL;
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    if (const int r = spawn(args.data(), false, &pid); r < 0) return r;
    return reap(pid);
}

}  // namespace vexa::shell
