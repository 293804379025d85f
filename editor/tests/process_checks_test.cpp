// The start-up's process checks, run through the shell as the editor runs
// them, against processes of known names and command lines in a process
// table of their own.
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "editor/startup_commands.h"
#include "platform/shell/shell_command.h"
#include "tests/support/temp_dir.h"

namespace {

// A process started as <folder>/<program> with these arguments after its name.
struct Running {
    std::string program;  // may lie in a subfolder: "tools/helper"
    std::string arguments;
};

// Runs `check` in a new PID namespace where the given processes (copies of
// the shell that wait) run; its exit status, or -1 when no namespace can be made.
int statusWithProcesses(const std::vector<Running>& running, const char* check) {
    static const bool canIsolate = vexa::shell::runShellCommand("unshare --pid --fork --mount-proc true 2>/dev/null") == 0;
    if (!canIsolate) return -1;
    vexa::test::TempDir dir;
    // From a script file, so that no command line but the processes' own
    // holds their names and arguments; each runs (has its name, up to 10 s
    // after it was started) before the check looks.
    std::ofstream script(dir / "run.sh");
    for (const Running& r : running) {
        const std::string path = dir / r.program;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        script << "cp /bin/sh '" << path << "'\n"
               << "'" << path << "' -c 'sleep 60; :' " << r.arguments << " &\n"
               << "n=0; until [ \"$(head -zn1 /proc/$!/cmdline | tr -d '\\0')\" = '" << path
               << "' ] || [ $((n += 1)) -gt 1000 ]; do sleep 0.01; done\n";
    }
    script << check << "\n";
    script.close();
    return vexa::shell::runShellCommand("unshare --pid --fork --mount-proc sh '" + (dir / "run.sh") + "'");
}

}  // namespace

TEST(ProcessChecks, FindProgramNamesInFull) {
    using vexa::startup::kKarabinerCheck;
    using vexa::startup::kSetUpperCheck;
    const struct {
        const char* name;
        std::vector<Running> running;
        const char* check;
        int status;
    } cases[] = {
        {"no such process: the check does not find itself", {}, kKarabinerCheck, 1},
        {"no such process: the daemon check does not find itself", {}, kSetUpperCheck, 1},
        {"a name containing karabiner_", {{"karabiner_grabber", ""}}, kKarabinerCheck, 0},
        {"karabiner without the underscore", {{"karabiner", ""}}, kKarabinerCheck, 1},
        // Sixteen characters: the kernel keeps "VexaOrlaSetUppe" as its name.
        {"the set-up daemon", {{"VexaOrlaSetUpper", "--verbose"}}, kSetUpperCheck, 0},
        {"a name containing the daemon's", {{"MyVexaOrlaSetUpperHelper", ""}}, kSetUpperCheck, 0},
        {"the daemon's name cut to 15 characters", {{"VexaOrlaSetUppe", ""}}, kSetUpperCheck, 1},
        {"the daemon is not the remapping tool", {{"VexaOrlaSetUpper", ""}}, kKarabinerCheck, 1},
        // Command lines that only mention a name.
        {"a compiler building the daemon", {{"c++", "-o daemon/VexaOrlaSetUpper daemon/main.cpp"}}, kSetUpperCheck, 1},
        {"an editor with the daemon's source open", {{"vim", "VexaOrlaSetUpper.cpp"}}, kSetUpperCheck, 1},
        {"a search for the remapping tool", {{"grep", "karabiner_grabber"}}, kKarabinerCheck, 1},
        {"a program in a folder named like the daemon", {{"VexaOrlaSetUpper.d/helper", ""}}, kSetUpperCheck, 1},
        {"a program in a folder named like the tool", {{"karabiner_tools/helper", ""}}, kKarabinerCheck, 1},
        {"the daemon among other programs", {{"vim", "VexaOrlaSetUpper.cpp"}, {"VexaOrlaSetUpper", ""}}, kSetUpperCheck, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const int status = statusWithProcesses(c.running, c.check);
        if (status < 0) GTEST_SKIP() << "unshare cannot make a PID namespace here";
        EXPECT_EQ(status, c.status);
    }
}
