// What the editor asks of this system: the driver's unit file in systemd's
// search path, driver objects on a private system bus with a driver
// stand-in, and command lines started ahead of their answer.
#include <filesystem>
#include <memory>

#include <gtest/gtest.h>

#include "editor/editor_platform.h"
#include "tests/standins/driver_standin.h"
#include "tests/standins/service_thread.h"
#include "tests/support/private_bus.h"
#include "tests/support/temp_dir.h"

using vexa::test::DriverStandin;

TEST(LinuxEditorPlatform, DriverIsInstalledWhenItsUnitFileIsInTheSearchPath) {
    vexa::test::TempDir units;
    LinuxEditorPlatform platform;
    vexa::test::ScopedEnv unitPath("SYSTEMD_UNIT_PATH", units.path().c_str());
    EXPECT_FALSE(platform.isDriverInstalled());
    std::filesystem::copy_file(VEXA_DRIVER_UNIT, units / "mirlan.driver.VexaOrla.service");
    EXPECT_TRUE(platform.isDriverInstalled());
}

TEST(LinuxEditorPlatform, DriverIsLoadedWhileADriverObjectExists) {
    vexa::test::PrivateSystemBus bus{"<include>" VEXA_DRIVER_POLICY "</include>"};
    vexa::test::ServiceThread services;
    std::unique_ptr<DriverStandin> driver;
    LinuxEditorPlatform platform;
    const auto on = [&](auto task) { services.run(task); };

    EXPECT_FALSE(platform.isDriverLoaded()) << "no driver";
    on([&] { driver = std::make_unique<DriverStandin>(); });
    EXPECT_FALSE(platform.isDriverLoaded()) << "a driver serving no keyboard";
    std::string other, keyboard;
    on([&] { other = driver->publish({"other", 1278, 6, 0x01100000, "mirlan_Other", 0, ""}); });
    EXPECT_FALSE(platform.isDriverLoaded()) << "an object of another class";
    on([&] { keyboard = driver->publish({"ansi", 1278, 6, 0x01200000, "mirlan_VexaOrla", 0, ""}); });
    EXPECT_TRUE(platform.isDriverLoaded()) << "one keyboard served";
    on([&] { driver->unpublish(keyboard); });
    EXPECT_FALSE(platform.isDriverLoaded()) << "the keyboard went";
    on([&] { driver.reset(); });
}

TEST(LinuxEditorPlatform, CommandStartedAheadGivesTheAnswerOfThatRun) {
    vexa::test::TempDir dir;
    const std::string mark = dir / "mark";
    // Exits 0 when the mark is absent, and leaves it behind.
    const std::string commandLine = "test ! -e '" + mark + "'; s=$?; touch '" + mark + "'; exit $s";
    LinuxEditorPlatform platform;
    platform.startShellCommand(commandLine);
    EXPECT_EQ(platform.runShellCommand(commandLine), 0);  // the early run's answer...
    EXPECT_EQ(platform.runShellCommand(commandLine), 1);  // ...once; then the line runs anew
}
