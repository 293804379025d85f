#include "daemon/launch_check.h"

#include <cstdio>

namespace vexa::setupper {

bool launcherIsLegal(const std::string& parentName) { return parentName == kLauncherName; }

std::string illegalLauncherText(const std::string& parentName) {
    return "Launcher (" + parentName + ") is illegal.";
}

bool systemIsSupported(double versionNumber) { return versionNumber >= kMinimumSystemVersion; }

std::string unsupportedSystemText(double versionNumber) {
    char number[32];
    std::snprintf(number, sizeof number, "%g", versionNumber);
    return std::string("macOS Sierra 10.12 or later is required. (") + number + ")";
}

}  // namespace vexa::setupper
