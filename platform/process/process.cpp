#include "platform/process/process.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <cctype>
#include <fstream>

namespace vexa::process {

std::string parentProcessName() {
    std::ifstream comm("/proc/" + std::to_string(::getppid()) + "/comm");
    std::string name;
    if (!std::getline(comm, name)) return "";
    return name;
}

double versionNumberFromRelease(const std::string& release) {
    std::size_t at = 0;
    auto number = [&](long* out) {
        const std::size_t start = at;
        long value = 0;
        while (at < release.size() && std::isdigit(static_cast<unsigned char>(release[at])) && at - start < 6) {
            value = value * 10 + (release[at++] - '0');
        }
        *out = value;
        return at > start;
    };
    long major = 0, minor = 0;
    if (!number(&major) || at >= release.size() || release[at++] != '.' || !number(&minor)) return 0;
    return static_cast<double>(major * 100 + minor);
}

double systemVersionNumber() {
    utsname name{};
    if (::uname(&name) != 0) return 0;
    return versionNumberFromRelease(name.release);
}

}  // namespace vexa::process
