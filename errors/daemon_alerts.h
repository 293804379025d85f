// The set-up daemon's alerts: it has no windows, so an alert is a notice
// (journal, and the console user's desktop) headed "Vexa Orla SetUpper",
// whose text is the message and, after a line break, the rendered error
// stack. A library of its own (vexa_daemon_alerts): the graphical programs
// use module 712 instead.
#pragma once

#include <cstdint>
#include <string>

#include "errors/error_stack.h"

inline constexpr char kDaemonNoticeHeader[] = "Vexa Orla SetUpper";

// Notice levels.
enum : int { kNoticeStopLevel = 0, kNoticeNoteLevel = 1, kNoticeCautionLevel = 2 };

// The notice text: the message ("An error occurred." when null or empty),
// a line break and the error string (which empties the stack).
std::string daemonNoticeText(const char* message);

// Pushes code1, then code2, and posts the notice at `level` with the
// alert sound. Returns at once.
void AlertApp(int level, const char* message, std::int64_t code1, std::int64_t code2);
// AlertApp at caution level.
void CautionApp(const char* message, std::int64_t code1, std::int64_t code2);
// AlertApp at stop level, then the process ends with status 0.
[[noreturn]] void AbendApp(const char* message, std::int64_t code1, std::int64_t code2);

// A notice without error string and without sound (the refused start).
void postPlainNotice(int level, const std::string& text);
