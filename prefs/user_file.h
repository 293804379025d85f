// Reading a file in a user's home with that user's rights (module-internal).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "errors/error_stack.h"

namespace vexa::prefs {

// Reads the whole file at `path`, which lies in the named user's home (a
// null name: the user running the process). A root process reads another
// user's file with that user's file-system identity, so the kernel allows
// exactly what the user could read, symbolic links included; any other
// process opens it as itself. Regular files only, never blocking, at most
// files::kMaxFileSize bytes. Returns 0 or a negative errno.
ErrorCode readUserFile(const char* userName, const std::string& path, std::vector<std::uint8_t>& out);

}  // namespace vexa::prefs
