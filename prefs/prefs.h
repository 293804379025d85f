// Module 730: the user's preference file and the tables stored in it.
//
// The current file "Library/Preferences/VexaKeyboard_64bit.prefs" under the
// user's home is a binary keyed archive whose root is a dictionary; its
// "VexaKeyMap" entry maps each keyboard type's name to a 256-byte table.
// The legacy file "Library/Preferences/VexaKeyboard.prefs" is a resource
// file with one 'KcoD' resource per type (ID 101 ANSI, 104 JIS, else 0); it
// is only ever read.
//
// Functions that take or return dictionaries have C++ linkage; the three
// table reads keep C linkage. A null user name means the user running the
// process.
//
// Both files are read with the named user's rights: a root process (the
// daemon) reads another user's file with that user's file-system uid, gid
// and groups, taken just for the read (CAP_SETUID and CAP_SETGID are all it
// needs), so symbolic links are followed exactly as far as the user could
// follow them. Any other process reads as itself. Either way only regular
// files of at most 1 MiB are read, and a FIFO never blocks a read.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "errors/error.h"
#include "errors/error_stack.h"
#include "keymap/keymap.h"
#include "platform/keyedarchive/value.h"

inline constexpr char KZ730_PREF_FILE[] = "Library/Preferences/VexaKeyboard_64bit.prefs";
inline constexpr char KZ730_OLD_PREF_FILE[] = "Library/Preferences/VexaKeyboard.prefs";
inline constexpr char KZ730_KEYMAP_KEY[] = "VexaKeyMap";

enum : ErrorCode {
    KZ730_ERR_WRITE_EMPTY = 7300060,       // the root dictionary is empty (or null)
    KZ730_ERR_WRITE_NO_PATH = 7300063,     // the user has no home directory
    KZ730_ERR_WRITE_NO_DATA = 7300066,     // the dictionary cannot be archived
    KZ730_ERR_WRITE_FAILED = 7300069,      // writing failed; the error object says why
    KZ730_ERR_GET_ARGUMENT = 7300079,      // dictionary, type or table missing
    KZ730_ERR_GET_NO_KEYMAPS = 7300082,    // no "VexaKeyMap" dictionary
    KZ730_ERR_GET_NO_TABLE = 7300085,      // no data under the type
    KZ730_ERR_GET_TABLE_SIZE = 7300087,    // the data is not 256 bytes
    KZ730_ERR_SET_ARGUMENT = 7300099,      // dictionary, type or table missing
    KZ730_ERR_NEW_NO_FILE = 7300149,       // no usable current file
    KZ730_ERR_NEW_NO_TABLE = 7300154,      // the file lacks the table (get's code pushed)
    KZ730_ERR_OLD_ARGUMENT = 7300212,      // type or table missing
    KZ730_ERR_OLD_NO_HOME = 7300216,       // the user has no home directory
    KZ730_ERR_OLD_NO_PATH = 7300218,       // no path can be made (too long)
    KZ730_ERR_OLD_NO_FILE = 7300221,       // the legacy file does not exist
    KZ730_ERR_OLD_CANNOT_OPEN = 7300227,   // not a readable resource file
    KZ730_ERR_OLD_NO_RESOURCE = 7300239,   // no 'KcoD' resource of 256 bytes
    KZ730_ERR_REGISTER_NULL = 7300252,     // registering a null observer
};

// Path of the user's current preference file; none when the user has no
// home directory.
std::optional<std::string> KZ730prefFilePath(const char* userName);

// The current file's root dictionary; none when there is no path, the file
// is missing, unreadable or not a regular file or over 1 MiB, or it does not
// decode to a dictionary. Entries the module does not interpret are kept as
// they were read, to be written back; so are damaged objects (a text holding
// a NUL, an NSDictionary whose keys and objects differ in number, ...),
// except for the root, the "VexaKeyMap" dictionary and the two tables in it:
// damage to those counts as no file.
std::optional<vexa::archive::Dictionary> KZ730readNewPrefFile(const char* userName);

// Writes `root` as the user's current file, atomically; creates
// "Library/Preferences" in the home directory when it is missing. When the
// file is a symbolic link, the file it leads to is replaced and the link
// stays (see files::writeFileThroughLinks). `error`
// is optional: it is cleared first and, with 7300069, receives the error
// object (NSCocoaErrorDomain file-write code, the POSIX error underneath).
// An archive over the 1 MiB that readers accept is refused with 7300069
// (EFBIG) rather than written unreadable.
ErrorCode KZ730writeNewPrefFile(const char* userName, const vexa::archive::Dictionary* root,
                                std::optional<vexa::Error>* error);

// Copies the 256-byte table stored under `type` into `keymap`.
ErrorCode KZ730getKeymapFromPrefData(const vexa::archive::Dictionary* root, KeymapType type, std::uint8_t* keymap);

// Puts a copy of `keymap` under `type` into the root's "VexaKeyMap"
// dictionary (made anew when missing or of another kind), keeping the other
// entries. Nothing is written to disk.
ErrorCode KZ730setKeymapToPrefData(vexa::archive::Dictionary* root, KeymapType type, const std::uint8_t* keymap);

extern "C" {

// The table from the current file. With 7300154 the code of the failed get
// is on the error stack.
ErrorCode KZ730readNewKeymap(const char* userName, KeymapType type, std::uint8_t* keymap);

// The table from the legacy file, converted to the current format; the
// table is untouched on failure.
ErrorCode KZ730readOldKeymap(const char* userName, KeymapType type, std::uint8_t* keymap);

// Always 0: the table from the current file, else the legacy file, else the
// type's default (JIS for "Vexa Orla JIS", identity otherwise).
ErrorCode KZ730readKeymap(const char* userName, KeymapType type, std::uint8_t* keymap);

}  // extern "C"
