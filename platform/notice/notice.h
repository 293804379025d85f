// Notices of a system service to the people it serves. Each notice is
// always written to the journal (and as lines on standard error, with the
// journal's priority prefix, unless standard error is the journal itself)
// and, best effort, shown as a desktop notification on the session bus of
// the user at the console. The desktop part runs in a short-lived child
// process that takes that user's user and group IDs before it connects, so
// the service never waits for a desktop and never talks to a user's bus as
// root.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vexa::notice {

enum class Level : int { Stop = 0, Note = 1, Caution = 2 };

struct Notice {
    Level level = Level::Caution;
    std::string appName;  // the program, as the journal and the desktop name it
    std::string header;   // the notification's summary
    std::string text;     // its body; may hold line breaks
    bool sound = true;    // ask the desktop for its warning sound
};

// The journal priority (syslog level) of a notice level.
int journalPriority(Level level);
// The desktop notification urgency (0 low, 1 normal, 2 critical).
std::uint8_t urgency(Level level);
// `text` with &, < and > written as entities, for servers that read markup.
std::string escapeMarkup(std::string_view text);

// Whether standard error is the journal stream systemd gave the service.
bool standardErrorIsJournal();
// A journal entry; and the same text on standard error unless standard
// error is the journal itself.
void writeToJournal(const Notice& notice);
// Starts the child and returns at once.
void showOnDesktop(const Notice& notice);

inline void post(const Notice& notice) {
    writeToJournal(notice);
    showOnDesktop(notice);
}

}  // namespace vexa::notice
