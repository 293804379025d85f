// Command lines run through /bin/sh and programs run with their own
// arguments: exit statuses, starting ahead of the answer, and no child left
// behind.
#include <signal.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/shell/shell_command.h"
#include "tests/support/temp_dir.h"

using vexa::shell::ShellCommand;
using vexa::shell::runProgram;
using vexa::shell::runShellCommand;

TEST(ShellCommand, StatusIsTheShells) {
    const struct {
        const char* commandLine;
        int status;
    } cases[] = {
        {"true", 0},
        {"exit 3", 3},
        {"false | true", 0},  // a pipeline's status is its last command's
        {"true | false", 1},
        {"kill -TERM $$", 128 + SIGTERM},
        {"no-such-command-anywhere 2>/dev/null", 127},
        {"test -z \"$(cat)\"", 0},  // standard input is empty, never the program's
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.commandLine);
        EXPECT_EQ(runShellCommand(c.commandLine), c.status);
    }
}

TEST(RunProgram, ArgumentsPassAsGivenWithoutAShell) {
    const struct {
        std::vector<std::string> argv;
        int status;
    } cases[] = {
        {{"/bin/sh", "-c", "exit $#", "name", "one argument; exit 9", "two"}, 2},
        {{"/bin/sh", "-c", "[ \"$1\" = '$HOME' ]", "name", "$HOME"}, 0},  // no expansion on the way
        {{"/no/such/program"}, -ENOENT},
        {{}, -EINVAL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.argv.empty() ? "" : c.argv.back());
        EXPECT_EQ(runProgram(c.argv), c.status);
    }
}

TEST(ShellCommand, StartedAheadAnswersLaterAndTheSame) {
    vexa::test::TempDir dir;
    const std::string mark = dir / "ran";
    ShellCommand command("touch '" + mark + "'; exit 5");
    ASSERT_EQ(command.start(), 0);
    // It runs before anyone waits.
    for (int i = 0; i < 500 && !std::ifstream(mark); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(std::ifstream(mark).good());
    EXPECT_EQ(command.wait(), 5);
    EXPECT_EQ(command.wait(), 5);
    EXPECT_EQ(command.start(), 0);  // not run a second time
    EXPECT_EQ(command.wait(), 5);
}

TEST(ShellCommand, ChildStillRunningIsEndedWithTheObject) {
    vexa::test::TempDir dir;
    const std::string pidFile = dir / "pid";
    pid_t pid = 0;
    {
        ShellCommand command("echo $$ > '" + pidFile + "'.new && mv '" + pidFile + "'.new '" + pidFile + "' && exec sleep 60");
        ASSERT_EQ(command.start(), 0);
        for (int i = 0; i < 500 && !(std::ifstream(pidFile) >> pid); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_GT(pid, 0);
        EXPECT_EQ(::kill(pid, 0), 0);
    }
    // Killed and reaped: no such process, not even a zombie.
    EXPECT_EQ(::kill(pid, 0), -1);
    EXPECT_EQ(errno, ESRCH);
}
