// Logging for the services: one line on stderr with the journal's priority
// prefix (SD_ERR, SD_WARNING, SD_INFO from <systemd/sd-daemon.h>), so that
// journald files each line under its priority when the program runs as a unit.
// logErrno logs and returns the negative errno it was given, so "log and
// return" is one statement: return logErrno(r, SD_ERR "%s: cannot watch", node);
#pragma once

#include <systemd/sd-daemon.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace vexa {

// Writes the formatted message, then ": " and the text of errno -r.
[[gnu::format(printf, 2, 3)]] inline int logErrno(int r, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fprintf(stderr, ": %s\n", std::strerror(r < 0 ? -r : r));
    return r < 0 ? r : -r;
}

[[gnu::format(printf, 1, 2)]] inline void logLine(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
}

}  // namespace vexa
