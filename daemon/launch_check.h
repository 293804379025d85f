// The checks the daemon makes before it does anything: it must be started
// by the service manager, on a new enough system. Pure: the names and
// numbers come from the platform layer.
#pragma once

#include <string>

namespace vexa::setupper {

// The only parent the daemon runs under.
inline constexpr char kLauncherName[] = "systemd";
// The oldest kernel it runs on, as major × 100 + minor.
inline constexpr double kMinimumSystemVersion = 405;

// Exactly the launcher's name: no prefix, no suffix.
bool launcherIsLegal(const std::string& parentName);
// "Launcher (<name>) is illegal."
std::string illegalLauncherText(const std::string& parentName);

bool systemIsSupported(double versionNumber);
// The refusal's text, with the number as "%g" shows it.
std::string unsupportedSystemText(double versionNumber);

}  // namespace vexa::setupper
