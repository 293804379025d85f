// The driver registry client against a driver stand-in on a private system
// bus with the driver's policy: matching, properties, SetProperties, and
// notifications across a driver restart.
#include "platform/registry/registry.h"

#include <gtest/gtest.h>

#include <set>

#include "tests/standins/driver_standin.h"
#include "tests/standins/service_thread.h"
#include "tests/support/event_loop.h"
#include "tests/support/private_bus.h"

namespace {

using namespace std::chrono_literals;
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
    services.run([this] { driver = std::make_unique<DriverStandin>(); });
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
        EXPECT_EQ(reg::matchingServiceExists(cs.matching), !cs.paths.empty());
    }
}
}  // namespace
