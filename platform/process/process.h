// Facts about the running process and the system it runs on.
#pragma once

#include <string>

namespace vexa::process {

// The name of the parent process as the kernel keeps it (/proc/<ppid>/comm,
// at most 15 bytes); "" when it cannot be read.
std::string parentProcessName();

// The kernel's version as one number, major × 100 + minor (6.1 gives 601);
// 0 when it cannot be read.
double systemVersionNumber();

// The same number from a release text such as "6.1.0-18-amd64"; 0 when the
// text does not start with "major.minor".
double versionNumberFromRelease(const std::string& release);

}  // namespace vexa::process
