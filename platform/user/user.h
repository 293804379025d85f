// Users and their home directories, from the passwd database.
#pragma once

#include <optional>
#include <string>

namespace vexa::user {

// The home directory of the named user. For the user running the process
// (a null name, or that user's own name) $HOME wins when it is set and not
// empty. None when the passwd database has no such user or no home for it.
std::optional<std::string> homeDirectoryForUser(const char* userName);

// The login name of the user running the process (its real user id); empty
// when the passwd database has no entry for it.
std::string userName();

}  // namespace vexa::user
