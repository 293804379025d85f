// The daemon's start checks: the launcher's name and the system's version,
// with the texts of their refusals.
#include "daemon/launch_check.h"

#include <gtest/gtest.h>

#include "platform/process/process.h"

namespace {

using namespace vexa::setupper;

TEST(LaunchCheck, OnlyTheServiceManagerMayStartTheDaemon) {
    const struct {
        const char* parent;
        bool legal;
    } cases[] = {{"systemd", true}, {"systemd1", false}, {"systemd ", false}, {"ystemd", false},
                 {"system", false}, {"Systemd", false}, {"sh", false},        {"", false}};
    for (const auto& c : cases) EXPECT_EQ(launcherIsLegal(c.parent), c.legal) << '"' << c.parent << '"';
    EXPECT_EQ(illegalLauncherText("bash"), "Launcher (bash) is illegal.");
    EXPECT_EQ(illegalLauncherText("100%s"), "Launcher (100%s) is illegal.");
}

TEST(LaunchCheck, TheKernelMustBeAtLeast4Point5) {
    const struct {
        const char* release;
        double number;
        bool supported;
    } cases[] = {{"4.5.0", 405, true},           {"4.4.302-foo", 404, false}, {"6.1.0-18-amd64", 601, true},
                 {"5.10", 510, true},            {"3.19.8", 319, false},      {"10.0.1", 1000, true},
                 {"6", 0, false},                {"x.1", 0, false},           {"", 0, false}};
    for (const auto& c : cases) {
        const double number = vexa::process::versionNumberFromRelease(c.release);
        EXPECT_EQ(number, c.number) << c.release;
        EXPECT_EQ(systemIsSupported(number), c.supported) << c.release;
    }
    EXPECT_EQ(unsupportedSystemText(404), "macOS Sierra 10.12 or later is required. (404)");
    EXPECT_GE(vexa::process::systemVersionNumber(), 405) << "this machine's own kernel";
}

}  // namespace
