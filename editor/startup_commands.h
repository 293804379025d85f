// The shell command lines of the editor's start-up checks. Linux cuts a
// process's name to 15 characters ("VexaOrlaSetUpper" has 16), so they look
// for the text in every process's whole command line; the first letter in
// brackets keeps grep from finding its own command line, or the shell's.
#pragma once

namespace vexa::startup {

// Exit status 0 when an outside remapping tool's process runs (a command
// line containing "karabiner_").
inline constexpr char kKarabinerCheck[] = "/bin/ps -Ao args | grep '[k]arabiner_' > /dev/null";

// Exit status 0 when the set-up daemon runs (a command line containing
// "VexaOrlaSetUpper").
inline constexpr char kSetUpperCheck[] = "ps -Ao args | grep '[V]exaOrlaSetUpper' > /dev/null";

}  // namespace vexa::startup
