// Child programs run and waited for: a command line run through /bin/sh -c
// as system() runs it, but startable ahead of the moment its exit status is
// wanted, so that a program can overlap a check with its own start; and a
// program run with its own arguments, no shell in between. Children start
// with default signal handling and no signal blocked, whatever the calling
// program has set up for itself.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace vexa::shell {

class ShellCommand {
public:
    explicit ShellCommand(std::string commandLine);
    // A child still running is killed and reaped: nothing is left behind.
    ~ShellCommand();
    ShellCommand(const ShellCommand&) = delete;
    ShellCommand& operator=(const ShellCommand&) = delete;

    // Starts the shell (once); standard input is /dev/null, output and
    // errors go where the program's go. 0 or a negative errno.
    int start();
    // Waits for the command, starting it first when needed: its exit status
    // (0-255), 128 + the signal's number when a signal ended it, or a
    // negative errno when it could not be run. Asked again, the same answer.
    int wait();

    const std::string& commandLine() const { return commandLine_; }

private:
    std::string commandLine_;
    pid_t pid_ = 0;
    int status_ = 0;
    bool done_ = false;
};

// Runs the command line and waits: ShellCommand(commandLine).wait().
int runShellCommand(const std::string& commandLine);

// Runs the program at argv[0] with the arguments that follow and waits;
// standard input, output and errors are the calling program's. The exit
// status as ShellCommand::wait gives it.
int runProgram(const std::vector<std::string>& argv);

}  // namespace vexa::shell
