// An error object: domain text, code, and user information that may hold a
// message, a recovery suggestion and one underlying error.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace vexa {

struct Error {
    std::string domain;
    std::int64_t code = 0;
    std::string localizedDescription;          // the message line
    std::string localizedRecoverySuggestion;   // the detail line; empty = none
    std::shared_ptr<const Error> underlying;   // the error that caused this one

    // An error for a failed system call: domain "NSPOSIXErrorDomain", code errno.
    static Error posix(int errnum);
};

}  // namespace vexa
