// The start-up's process checks, run through the shell as the editor runs
// them, against processes of known names in a process table of their own.
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "editor/startup_commands.h"
#include "platform/shell/shell_command.h"
#include "tests/support/temp_dir.h"

namespace {

// Runs `check` in a new PID namespace where programs of the given names (copies
// of sleep) run; its exit status, or -1 when no namespace can be made.
int statusWithProcesses(const std::vector<std::string>& names, const char* check) {
    static const bool canIsolate = vexa::shell::runShellCommand("unshare --pid --fork --mount-proc true 2>/dev/null") == 0;
    if (!canIsolate) return -1;
    vexa::test::TempDir dir;
    // From a script file, so that no command line but the copies' holds
    // their names; each copy runs before the check looks.
    std::ofstream script(dir / "run.sh");
    for (const std::string& name : names) {
        script << "cp /bin/sleep '" << dir / name << "' && '" << dir / name << "' 60 &\n"
               << "until pgrep -f '^" << dir / name << " ' > /dev/null; do sleep 0.01; done\n";
    }
    script << check << "\n";
    script.close();
    return vexa::shell::runShellCommand("unshare --pid --fork --mount-proc sh '" + (dir / "run.sh") + "'");
}

}  // namespace

TEST(ProcessChecks, FindTheirNamesInWholeCommandLines) {
    using vexa::startup::kKarabinerCheck;
    using vexa::startup::kSetUpperCheck;
    const struct {
        const char* name;
        std::vector<std::string> running;
        const char* check;
        int status;
    } cases[] = {
        {"no such process: the check does not find itself", {}, kKarabinerCheck, 1},
        {"no such process: the daemon check does not find itself", {}, kSetUpperCheck, 1},
        {"a name containing karabiner_", {"karabiner_grabber"}, kKarabinerCheck, 0},
        {"karabiner without the underscore", {"karabiner"}, kKarabinerCheck, 1},
        // Sixteen characters: the kernel keeps "VexaOrlaSetUppe" as its name.
        {"the set-up daemon", {"VexaOrlaSetUpper"}, kSetUpperCheck, 0},
        {"a name containing the daemon's", {"VexaOrlaSetUpperHelper"}, kSetUpperCheck, 0},
        {"the daemon's name cut to 15 characters", {"VexaOrlaSetUppe"}, kSetUpperCheck, 1},
        {"the daemon is not the remapping tool", {"VexaOrlaSetUpper"}, kKarabinerCheck, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const int status = statusWithProcesses(c.running, c.check);
        if (status < 0) GTEST_SKIP() << "unshare cannot make a PID namespace here";
        EXPECT_EQ(status, c.status);
    }
}
