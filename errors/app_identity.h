// The running program's identity, shown in the header of error reports.
// Each executable defines appIdentity() (CMake's vexa_app_identity generates it).
#pragma once

namespace vexa {

struct AppIdentity {
    const char* bundleName;        // e.g. "VexaOrlaSetUpper"
    const char* shortVersion;      // e.g. "4.0.2"
    const char* bundleIdentifier;  // e.g. "mirlan.daemon.VexaOrla"
};

const AppIdentity& appIdentity();

}  // namespace vexa
