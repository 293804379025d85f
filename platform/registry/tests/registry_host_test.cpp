// The driver registry client against a driver stand-in on a private system
// bus with the driver's policy: matching by class and location, and what
// SetProperties returns.
#include "platform/registry/registry.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <set>

#include "tests/standins/driver_standin.h"
#include "tests/standins/service_thread.h"
#include "tests/support/private_bus.h"

namespace {

namespace reg = vexa::registry;
using vexa::test::DriverStandin;

std::set<std::string> drain(reg::Handle iterator) {
    std::set<std::string> paths;
    while (const reg::Handle entry = reg::iteratorNext(iterator)) {
        paths.insert(reg::entryPath(entry));
        EXPECT_EQ(reg::objectRelease(entry), 0);
    }
    return paths;
}

// The driver stand-in answers on a thread of its own while the test's
// thread waits in the registry's calls.
struct RegistryTest : ::testing::Test {
    void TearDown() override {
        services.run([this] { driver.reset(); });
    }
    void startDriver() {
        services.run([this] { driver = std::make_unique<DriverStandin>(); });
    }
    std::string publish(const DriverStandin::Instance& instance) {
        std::string path;
        services.run([&] { path = driver->publish(instance); });
        return path;
    }

    vexa::test::PrivateSystemBus bus{"<include>" VEXA_DRIVER_POLICY "</include>"};
    vexa::test::ServiceThread services;
    std::unique_ptr<DriverStandin> driver;
};

TEST_F(RegistryTest, MatchingByClassAndLocation) {
    // No driver: nothing matches, and that is no failure.
    reg::Handle none = 0;
    ASSERT_EQ(reg::getMatchingServices({"mirlan_VexaOrla", std::nullopt}, &none), 0);
    EXPECT_EQ(drain(none), std::set<std::string>{});
    reg::objectRelease(none);
    EXPECT_FALSE(reg::driverIsRunning());

    startDriver();
    EXPECT_TRUE(reg::driverIsRunning());
    const auto a = publish({"a", 1278, 6, 0x01100000, "mirlan_VexaOrla", 0, ""});
    const auto b = publish({"b", 1138, 104, 0x01200000, "mirlan_VexaOrla", 0, ""});
    const auto c = publish({"c", 1138, 104, 0x01100000, "mirlan_VexaOrlaX", 0, ""});
    const struct {
        reg::Matching matching;
        std::set<std::string> paths;
    } cases[] = {
        {{"mirlan_VexaOrla", std::nullopt}, {a, b}},
        {{"mirlan_VexaOrla", 0x01100000u}, {a}},
        {{"mirlan_VexaOrla", 0x01300000u}, {}},
        {{"mirlan_VexaOrlaX", std::nullopt}, {c}},
        {{"mirlan_", std::nullopt}, {}},
    };
    for (const auto& cs : cases) {
        reg::Handle iterator = 0;
        ASSERT_EQ(reg::getMatchingServices(cs.matching, &iterator), 0);
        EXPECT_NE(iterator, 0u);
        EXPECT_EQ(drain(iterator), cs.paths) << cs.matching.className;
        EXPECT_EQ(reg::iteratorNext(iterator), 0u) << "an iterator stays at its end";
        EXPECT_EQ(reg::objectRelease(iterator), 0);
        EXPECT_EQ(reg::objectRelease(iterator), -EBADF) << "released twice";
        EXPECT_EQ(reg::matchingServiceExists(cs.matching), !cs.paths.empty());
    }
}

TEST_F(RegistryTest, PropertiesAndSetProperties) {
    startDriver();
    const auto path = publish({"kb", 1138, 104, 0x01100000, "mirlan_VexaOrla", 0, ""});
    reg::Handle iterator = 0;
    ASSERT_EQ(reg::getMatchingServices({"mirlan_VexaOrla", std::nullopt}, &iterator), 0);
    const reg::Handle entry = reg::iteratorNext(iterator);
    ASSERT_NE(entry, 0u);
    EXPECT_EQ(reg::entryIntegerProperty(entry, "VendorID"), 1138);
    EXPECT_EQ(reg::entryIntegerProperty(entry, "LocationID"), 0x01100000);
    EXPECT_EQ(reg::entryTextProperty(entry, "Class"), "mirlan_VexaOrla");
    EXPECT_EQ(reg::entryIntegerProperty(entry, "Class"), std::nullopt) << "a text is no integer";
    EXPECT_EQ(reg::entryIntegerProperty(entry, "Nothing"), std::nullopt);
    EXPECT_EQ(reg::entryIntegerProperty(iterator, "VendorID"), std::nullopt) << "an iterator is no entry";

    std::vector<std::uint8_t> table(256);
    for (std::size_t i = 0; i < table.size(); ++i) table[i] = static_cast<std::uint8_t>(255 - i);
    const struct {
        std::int32_t status;
        std::string busError;
        int expected;
    } cases[] = {
        {0, "", 0},
        {-EINVAL, "", -EINVAL},
        {7, "", 7},
        {0, "org.freedesktop.DBus.Error.AccessDenied", -EACCES},
        {0, "mirlan.Unknown.Error", -EIO},
    };
    for (const auto& cs : cases) {
        services.run([&] { driver->setAnswer(path, cs.status, cs.busError); });
        EXPECT_EQ(reg::entrySetDataProperty(entry, "VexaKeyMap", table), cs.expected) << cs.status << cs.busError;
    }
    std::vector<DriverStandin::Call> calls;
    services.run([&] { calls = driver->calls; });
    ASSERT_EQ(calls.size(), std::size(cases));
    EXPECT_EQ(calls[0].path, path);
    EXPECT_EQ(calls[0].table, table);

    // The object goes, and a driver started anew publishes another one on
    // the same path: the old entry reaches neither.
    services.run([&] {
        driver->unpublish(path);
        driver->restart();
        driver->publish({"kb", 1138, 104, 0x01100000, "mirlan_VexaOrla", 0, ""});
    });
    EXPECT_LT(reg::entrySetDataProperty(entry, "VexaKeyMap", table), 0);
    services.run([&] { calls = driver->calls; });
    EXPECT_EQ(calls.size(), std::size(cases));
    EXPECT_EQ(reg::entrySetDataProperty(0, "VexaKeyMap", table), -EBADF);
    reg::objectRelease(entry);
    reg::objectRelease(iterator);
}

}  // namespace
