// Whole-file reading that is safe on files another user controls (regular
// files only, never blocking, a size cap), and atomic whole-file replacement.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "errors/error.h"
#include "errors/error_stack.h"

namespace vexa::files {

// Preference files are a few kilobytes; anything beyond this is refused.
inline constexpr std::size_t kMaxFileSize = 1024 * 1024;

// Reads the whole file at `path` into `out`. Returns 0 or a negative errno:
// -ELOOP for a symbolic link (never followed), -EINVAL for anything that is
// not a regular file (FIFO, device, directory: never opened in a way that
// could block), -EFBIG when the file is larger than `maxSize`.
ErrorCode readRegularFile(const std::string& path, std::vector<std::uint8_t>& out,
                          std::size_t maxSize = kMaxFileSize);

// Like readRegularFile, but a symbolic link anywhere in `path` is followed
// with the rights of the process (or of the file-system identity it has
// taken), so the kernel allows exactly what they allow.
ErrorCode readRegularFileFollowingLinks(const std::string& path, std::vector<std::uint8_t>& out,
                                        std::size_t maxSize = kMaxFileSize);

// Like readRegularFile for `base` + "/" + `relative`, where `base` is a
// trusted folder (it may itself be reached through symbolic links) and no
// part of `relative` is followed if it is a symbolic link: a user cannot
// point a folder of their own at somebody else's files. Returns -ELOOP for a
// symbolic link anywhere in `relative`, -ENOTDIR for a part that is no folder.
ErrorCode readRegularFileBelow(const std::string& base, const std::string& relative,
                               std::vector<std::uint8_t>& out, std::size_t maxSize = kMaxFileSize);

// Replaces the file at `path` with `bytes` in one step: a temporary file in
// the same folder is written and flushed to disk, renamed over `path`, and
// the folder is flushed. A reader sees the whole old or the whole new file.
// The new file has mode 0600. Returns 0 or a negative errno; on failure the
// old file is unchanged and no temporary file is left. Once the rename has
// put the new file in place the write has succeeded: a folder that cannot be
// flushed is logged as a warning and 0 is returned.
ErrorCode writeFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes);

// Like writeFileAtomically, but a symbolic link at `path` stays a link (a
// dotfile manager's link to the user's own copy): the file it leads to is
// replaced instead, with the temporary file in that file's own folder, and
// its folder is flushed. A link to nothing is written through to the path
// it names, which needs that path's folder to exist (else -ENOENT). A loop
// of links gives -ELOOP. A root process follows only root's links, as a
// user's link could point it at any file on the system: another user's
// link gives -EACCES, and nothing is written. The replaced file keeps its
// permission bits; a new file gets 0600. `written`, when given, receives
// the path of the file that is (or was to be) replaced once the links are
// resolved, for the caller's messages; it stays empty when they are not.
ErrorCode writeFileThroughLinks(const std::string& path, std::span<const std::uint8_t> bytes,
                                std::string* written = nullptr);

// Flushes a folder's entries to disk: 0 or a negative errno.
using FolderSync = ErrorCode (*)(const std::string& folder);
ErrorCode syncFolder(const std::string& folder);
// Makes writeFileAtomically flush folders with `sync` (tests use one that
// fails); returns the one used before.
FolderSync setFolderSync(FolderSync sync);

// The error object for a failed write of `path`: domain "NSCocoaErrorDomain"
// with the file-write code matching `errnum`, a message naming the file and
// its folder, and the POSIX error as its underlying error.
Error fileWriteError(const std::string& path, int errnum);

}  // namespace vexa::files
