// Module 722 against a driver stand-in on a private system bus: what a
// client hears and when (at install, on appear and go, after not draining,
// across a driver restart), and reading an instance's vendor and product.
#include "devnotify/devnotify.h"
#include "platform/registry/handles.h"

#include <gtest/gtest.h>

#include "tests/standins/driver_standin.h"
#include "tests/standins/service_thread.h"
#include "tests/support/event_loop.h"
#include "tests/support/private_bus.h"

namespace {

using namespace std::chrono_literals;
namespace reg = vexa::registry;
using vexa::test::DriverStandin;

// Names of the instances in an iterator, drained: "a,b".
std::string drain(std::uint32_t iterator) {
    std::string names;
    while (const std::uint32_t entry = reg::iteratorNext(iterator)) {
        const std::string path = reg::entryPath(entry);
        names += (names.empty() ? "" : ",") + path.substr(path.rfind('/') + 1);
        reg::objectRelease(entry);
    }
    return names;
}

struct Client : DeviceNotifyClient {
    Client(bool added, bool removed) : added(added), removed(removed) {}
    ~Client() override { KZ722removeDeviceNotify(info); }
    bool takesDeviceAddedNotify() const override { return added; }
    bool takesDeviceRemovedNotify() const override { return removed; }
    void deviceAddedNotify(std::uint32_t iterator) override {
        heard.push_back("added:" + (drains ? drain(iterator) : "(kept)"));
    }
    void deviceRemovedNotify(std::uint32_t iterator) override { heard.push_back("removed:" + drain(iterator)); }

    bool added, removed;
    bool drains = true;
    DeviceNotifyInfo* info = nullptr;
    std::vector<std::string> heard;
};

struct DevNotifyTest : ::testing::Test {
    void SetUp() override {
        services.run([this] { driver = std::make_unique<DriverStandin>(); });
    }
    void TearDown() override {
        services.run([this] { driver.reset(); });
    }
    void onDriver(const std::function<void(DriverStandin&)>& action) {
        services.run([&] { action(*driver); });
    }
    void publish(const std::string& name) {
        onDriver([&](DriverStandin& d) { d.publish({name, 1278, 6, 0, "mirlan_VexaOrla", 0, ""}); });
    }
    // What the client hears next (the loop runs until it has heard `count` more).
    std::vector<std::string> next(Client& client, std::size_t count) {
        const std::size_t before = client.heard.size();
        vexa::test::runDefaultEventLoopUntil([&] { return client.heard.size() >= before + count; }, 5s);
        return {client.heard.begin() + static_cast<long>(before), client.heard.end()};
    }

    vexa::test::PrivateSystemBus bus{"<include>" VEXA_DRIVER_POLICY "</include>"};
    vexa::test::ServiceThread services;
    std::unique_ptr<DriverStandin> driver;
};

using Heard = std::vector<std::string>;

TEST_F(DevNotifyTest, AnAddedOnlyClientHearsPresentAndNewInstancesOnly) {
    publish("a");
    publish("b");
    Client client(true, false);
    ASSERT_EQ(KZ722installDeviceNotify(&client, &client.info), 0);
    EXPECT_EQ(client.heard, Heard{"added:a,b"}) << "present instances are delivered during the install";
    DeviceNotifyClient* who = nullptr;
    std::uint32_t added = 0, removed = 1;
    reg::NotificationPort* port = nullptr;
    KZ722getNotifyInfo(client.info, &who, &added, &removed, &port);
    EXPECT_EQ(who, &client);
    EXPECT_NE(added, 0u);
    EXPECT_EQ(removed, 0u);
    EXPECT_NE(port, nullptr);
    KZ722getNotifyInfo(client.info, nullptr, nullptr, nullptr, nullptr);

    publish("c");
    EXPECT_EQ(next(client, 1), Heard{"added:c"});
    // A removal is not heard: the next thing heard is the next addition.
    onDriver([](DriverStandin& d) { d.unpublish(DriverStandin::pathOf("a")); });
    publish("d");
    EXPECT_EQ(next(client, 1), Heard{"added:d"});
}

TEST_F(DevNotifyTest, AClientOfBothKindsIsOfferedBothEachTime) {
    publish("a");
    Client client(true, true);
    ASSERT_EQ(KZ722installDeviceNotify(&client, &client.info), 0);
    EXPECT_EQ(client.heard, (Heard{"added:a", "removed:"}));
    publish("b");
    EXPECT_EQ(next(client, 2), (Heard{"added:b", "removed:"}));
    onDriver([](DriverStandin& d) { d.unpublish(DriverStandin::pathOf("a")); });
    EXPECT_EQ(next(client, 2), (Heard{"added:", "removed:a"}));
    // A driver that restarts: its instances went, and every one it publishes is new.
    onDriver([](DriverStandin& d) { d.restart(); });
    EXPECT_EQ(next(client, 4), (Heard{"added:", "removed:b", "added:b", "removed:"}));
}

TEST_F(DevNotifyTest, AnUndrainedNotificationStaysSilentUntilDrained) {
    Client quiet(true, false), witness(true, false);
    quiet.drains = false;
    ASSERT_EQ(KZ722installDeviceNotify(&quiet, &quiet.info), 0);
    ASSERT_EQ(KZ722installDeviceNotify(&witness, &witness.info), 0);
    publish("a");
    EXPECT_EQ(next(witness, 1), Heard{"added:a"});
    EXPECT_EQ(quiet.heard, Heard{"added:(kept)"}) << "not drained at install: not armed";
    std::uint32_t iterator = 0;
    KZ722getNotifyInfo(quiet.info, nullptr, &iterator, nullptr, nullptr);
    // The two clients hear the bus on connections of their own: the witness
    // having heard "a" does not mean the quiet one has yet.
    // Looking at the iterator must not drain (and so arm) it.
    vexa::test::runDefaultEventLoopUntil([&] { return reg::handles().queuedCount(iterator) > 0; }, 5s);
    EXPECT_EQ(quiet.heard, Heard{"added:(kept)"}) << "an iterator nobody drained stays silent";
    EXPECT_EQ(drain(iterator), "a") << "what arrived meanwhile waits in the iterator";
    quiet.drains = true;
    publish("b");
    EXPECT_EQ(next(quiet, 1), Heard{"added:b"});
    // Removed notifications are silent for good.
    KZ722removeDeviceNotify(quiet.info);
    quiet.info = nullptr;
    publish("c");
    vexa::test::runDefaultEventLoopUntil([&] { return witness.heard.back() == "added:c"; }, 5s);
    EXPECT_EQ(witness.heard, (Heard{"added:", "added:a", "added:b", "added:c"}));
    EXPECT_EQ(quiet.heard.size(), 2u);
}

TEST_F(DevNotifyTest, FailuresAndRegistryInfo) {
    Client client(true, false);
    DeviceNotifyInfo* slot = nullptr;
    EXPECT_EQ(KZ722installDeviceNotify(nullptr, &slot), KZ722_ERR_NO_CLIENT);
    EXPECT_EQ(KZ722installDeviceNotify(&client, nullptr), KZ722_ERR_NO_CLIENT);
    EXPECT_EQ(slot, nullptr);
    KZ722removeDeviceNotify(nullptr);

    onDriver([](DriverStandin& d) { d.publish({"jis", 1138, 104, 0, "mirlan_VexaOrla", 0, ""}); });
    std::uint32_t iterator = 0;
    ASSERT_EQ(reg::getMatchingServices({"mirlan_VexaOrla", std::nullopt}, &iterator), 0);
    const std::uint32_t entry = reg::iteratorNext(iterator);
    const struct {
        std::uint32_t entry;
        bool vendorPlace, productPlace;
        ErrorCode result;
        std::uint32_t vendor, product;
    } cases[] = {
        {entry, true, true, 0, 1138, 104},   {entry, false, true, 0, 99, 104},
        {entry, true, false, 0, 1138, 99},   {entry, false, false, 0, 99, 99},
        {0, true, true, KZ722_ERR_NO_ENTRY, 99, 99},
        {iterator, true, true, KZ722_ERR_NO_VENDOR_ID, 0, 99},  // a handle without properties
    };
    for (const auto& c : cases) {
        std::uint32_t vendor = 99, product = 99;
        EXPECT_EQ(KZ722getRegistryInfo(c.entry, c.vendorPlace ? &vendor : nullptr, c.productPlace ? &product : nullptr),
                  c.result);
        EXPECT_EQ(vendor, c.vendor);
        EXPECT_EQ(product, c.product);
    }
    reg::objectRelease(entry);
    reg::objectRelease(iterator);
}

}  // namespace
