// The shell command lines of the editor's start-up checks. They look at
// each process's program name in full: the last part of the first word of
// its command line (argv[0] as /proc/<pid>/cmdline holds it), the name the
// program was started by. The kernel's own name (comm) is cut to 15
// characters, and "VexaOrlaSetUpper" has 16; the rest of a command line is
// no name (a compiler building the daemon, or an editor with its source
// open, only mention it).
//
// The first grep prints the first NUL-ended word of every command line
// (-s: a process may end while it is read); the second finds the text after
// the word's last slash.
#pragma once

namespace vexa::startup {

// Exit status 0 when a process whose name contains "karabiner_" runs (an
// outside remapping tool).
inline constexpr char kKarabinerCheck[] =
    "grep -ahszm1 '' /proc/[0-9]*/cmdline | grep -az 'karabiner_[^/]*$' > /dev/null";

// Exit status 0 when a process whose name contains "VexaOrlaSetUpper" runs
// (the set-up daemon).
inline constexpr char kSetUpperCheck[] =
    "grep -ahszm1 '' /proc/[0-9]*/cmdline | grep -az 'VexaOrlaSetUpper[^/]*$' > /dev/null";

}  // namespace vexa::startup
