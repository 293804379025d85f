// A driver instance's bus object on a private system bus with the driver's
// own policy: what SetProperties answers for the values a caller can send,
// and the read-only properties that GetManagedObjects reports.
#include "driver/bus_object.h"

#include <gtest/gtest.h>
#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "driver/bus_names.h"
#include "tests/support/event_loop.h"
#include "tests/support/private_bus.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
namespace bus = vexa::driverbus;

constexpr char kPath[] = "/mirlan/driver/VexaOrla/event7_1";

Bytes ramp(std::size_t n) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(255 - i % 256);
    return b;
}

struct BusObjectTest : ::testing::Test {
    vexa::test::PrivateSystemBus daemon{"<include>" VEXA_DRIVER_POLICY "</include>"};
    sd_event* loop = nullptr;
    sd_bus* server = nullptr;
    sd_bus* client = nullptr;
    sd_bus_slot* manager = nullptr;
    sd_bus_slot* object = nullptr;
    sd_bus_slot* identity = nullptr;
    mirlan_VexaOrla driver;
    vexa::BusObjectData data{&driver, 0x01120000u};

    void SetUp() override {
        for (int i = 0; i < 256; ++i) driver.keymap[i] = static_cast<std::uint8_t>(i);
        ASSERT_GE(sd_event_default(&loop), 0);
        ASSERT_GE(sd_bus_open_system(&server), 0);
        ASSERT_GE(sd_bus_attach_event(server, loop, 0), 0);
        ASSERT_GE(sd_bus_add_object_manager(server, &manager, bus::kManagerPath), 0);
        ASSERT_GE(vexa::addDriverBusObject(server, kPath, &data, &object), 0);
        ASSERT_GE(vexa::addDriverManagerObject(server, &identity), 0);
        ASSERT_GE(sd_bus_request_name(server, bus::kBusName, 0), 0);
        ASSERT_GE(sd_bus_open_system(&client), 0);
        ASSERT_GE(sd_bus_attach_event(client, loop, 0), 0);
    }

    void TearDown() override {
        sd_bus_slot_unref(object);
        sd_bus_slot_unref(identity);
        sd_bus_slot_unref(manager);
        sd_bus_flush_close_unref(client);
        sd_bus_flush_close_unref(server);
        sd_event_unref(loop);
    }

    // Calls SetProperties with the dictionary that `fill` appends (inside
    // a{sv}); the returned status.
    std::int32_t setProperties(const std::function<void(sd_bus_message*)>& fill) {
        sd_bus_message* m = nullptr;
        EXPECT_GE(sd_bus_message_new_method_call(client, &m, bus::kBusName, kPath, bus::kInterface,
                                                 bus::kSetPropertiesMethod),
                  0);
        EXPECT_GE(sd_bus_message_open_container(m, 'a', "{sv}"), 0);
        fill(m);
        EXPECT_GE(sd_bus_message_close_container(m), 0);
        sd_bus_message* reply = call(m);
        std::int32_t status = INT32_MIN;
        if (reply) {
            EXPECT_GE(sd_bus_message_read(reply, "i", &status), 0);
        }
        sd_bus_message_unref(reply);
        sd_bus_message_unref(m);
        return status;
    }

    // Sends the call and runs the loop (which serves both ends) until the reply.
    sd_bus_message* call(sd_bus_message* m) {
        struct Result {
            sd_bus_message* reply = nullptr;
            bool done = false;
        } result;
        sd_bus_slot* slot = nullptr;
        EXPECT_GE(sd_bus_call_async(
                      client, &slot, m,
                      [](sd_bus_message* r, void* userdata, sd_bus_error*) {
                          auto* res = static_cast<Result*>(userdata);
                          res->done = true;
                          if (!sd_bus_message_is_method_error(r, nullptr)) res->reply = sd_bus_message_ref(r);
                          else ADD_FAILURE() << sd_bus_message_get_error(r)->name;
                          return 0;
                      },
                      &result, 0),
                  0);
        EXPECT_TRUE(vexa::test::runDefaultEventLoopUntil([&] { return result.done; }, 5s));
        sd_bus_slot_unref(slot);
        return result.reply;
    }
};

void entry(sd_bus_message* m, const char* key, const std::function<void(sd_bus_message*)>& value,
           const char* signature) {
    sd_bus_message_open_container(m, 'e', "sv");
    sd_bus_message_append(m, "s", key);
    sd_bus_message_open_container(m, 'v', signature);
    value(m);
    sd_bus_message_close_container(m);
    sd_bus_message_close_container(m);
}

std::function<void(sd_bus_message*)> table(std::size_t n) {
    return [n](sd_bus_message* m) {
        entry(
            m, bus::kKeymapProperty, [n](sd_bus_message* mm) { sd_bus_message_append_array(mm, 'y', ramp(n).data(), n); },
            "ay");
    };
}

TEST_F(BusObjectTest, SetPropertiesOverTheBus) {
    using Fill = std::function<void(sd_bus_message*)>;
    struct Case {
        const char* what;
        Fill fill;
        std::int32_t status;
        bool taken;
    };
    const Fill text = [](sd_bus_message* m) {
        entry(m, bus::kKeymapProperty, [](sd_bus_message* mm) { sd_bus_message_append(mm, "s", "table"); }, "s");
    };
    const Fill ints = [](sd_bus_message* m) {
        entry(m, bus::kKeymapProperty, [](sd_bus_message* mm) { sd_bus_message_append(mm, "ai", 2, 1, 2); }, "ai");
    };
    const Fill nestedVariant = [](sd_bus_message* m) {
        entry(
            m, bus::kKeymapProperty,
            [](sd_bus_message* mm) {
                sd_bus_message_open_container(mm, 'v', "ay");
                sd_bus_message_append_array(mm, 'y', ramp(256).data(), 256);
                sd_bus_message_close_container(mm);
            },
            "v");
    };
    const Fill otherDictionary = [](sd_bus_message* m) {
        entry(m, "Other", [](sd_bus_message* mm) { sd_bus_message_append(mm, "a{sv}", 1, "x", "i", 1); }, "a{sv}");
    };
    const Fill other = [](sd_bus_message* m) {
        entry(m, "Other", [](sd_bus_message* mm) { sd_bus_message_append(mm, "i", 3); }, "i");
    };
    const std::vector<Case> cases = {
        {"256 bytes", table(256), 0, true},
        {"255 bytes", table(255), -EOPNOTSUPP, false},
        {"257 bytes", table(257), -EOPNOTSUPP, false},
        {"text", text, -EOPNOTSUPP, false},
        {"array of integers", ints, -EOPNOTSUPP, false},
        {"data inside a second variant", nestedVariant, -EOPNOTSUPP, false},
        {"no table, a nested dictionary", otherDictionary, -EOPNOTSUPP, false},
        {"a table and another key", [&](sd_bus_message* m) { table(256)(m); other(m); }, -EOPNOTSUPP, true},
        {"empty dictionary", [](sd_bus_message*) {}, 0, false},
    };
    const Bytes taken = ramp(256);
    for (const Case& c : cases) {
        for (int i = 0; i < 256; ++i) driver.keymap[i] = static_cast<std::uint8_t>(i);
        EXPECT_EQ(setProperties(c.fill), c.status) << c.what;
        bool identity = true;
        for (int i = 0; i < 256; ++i) identity &= driver.keymap[i] == i;
        if (c.taken) EXPECT_TRUE(std::equal(taken.begin(), taken.end(), driver.keymap)) << c.what;
        else EXPECT_TRUE(identity) << c.what;
    }
}

TEST_F(BusObjectTest, GetManagedObjectsReportsTheReadOnlyProperties) {
    sd_bus_message* m = nullptr;
    ASSERT_GE(sd_bus_message_new_method_call(client, &m, bus::kBusName, bus::kManagerPath,
                                             "org.freedesktop.DBus.ObjectManager", "GetManagedObjects"),
              0);
    sd_bus_message* reply = call(m);
    sd_bus_message_unref(m);
    ASSERT_NE(reply, nullptr);
    std::string path, cls;
    std::int32_t vendor = -1, product = -1;
    std::uint32_t location = 0;
    std::vector<std::string> names;
    ASSERT_GT(sd_bus_message_enter_container(reply, 'a', "{oa{sa{sv}}}"), 0);
    ASSERT_GT(sd_bus_message_enter_container(reply, 'e', "oa{sa{sv}}"), 0);
    const char* p = nullptr;
    ASSERT_GE(sd_bus_message_read(reply, "o", &p), 0);
    path = p;
    ASSERT_GT(sd_bus_message_enter_container(reply, 'a', "{sa{sv}}"), 0);
    while (sd_bus_message_enter_container(reply, 'e', "sa{sv}") > 0) {
        const char* iface = nullptr;
        sd_bus_message_read(reply, "s", &iface);
        if (std::string(iface) != bus::kInterface) {
            sd_bus_message_skip(reply, "a{sv}");
        } else {
            sd_bus_message_enter_container(reply, 'a', "{sv}");
            while (sd_bus_message_enter_container(reply, 'e', "sv") > 0) {
                const char* name = nullptr;
                sd_bus_message_read(reply, "s", &name);
                names.emplace_back(name);
                const std::string n = names.back();
                const char* s = nullptr;
                int r = 0;
                if (n == bus::kClassProperty) {
                    r = sd_bus_message_read(reply, "v", "s", &s);
                    cls = s ? s : "";
                } else if (n == bus::kVendorIDProperty) {
                    r = sd_bus_message_read(reply, "v", "i", &vendor);
                } else if (n == bus::kProductIDProperty) {
                    r = sd_bus_message_read(reply, "v", "i", &product);
                } else if (n == bus::kLocationIDProperty) {
                    r = sd_bus_message_read(reply, "v", "u", &location);
                } else {
                    r = sd_bus_message_skip(reply, "v");
                }
                EXPECT_GE(r, 0) << n << " has another type";
                sd_bus_message_exit_container(reply);
            }
            sd_bus_message_exit_container(reply);
        }
        sd_bus_message_exit_container(reply);
    }
    EXPECT_GE(sd_bus_message_exit_container(reply), 0);
    EXPECT_GE(sd_bus_message_exit_container(reply), 0);
    EXPECT_EQ(sd_bus_message_enter_container(reply, 'e', "oa{sa{sv}}"), 0)
        << "the manager's own object is no instance";
    sd_bus_message_unref(reply);
    EXPECT_EQ(path, kPath);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Class", "LocationID", "ProductID", "VendorID"}));
    EXPECT_EQ(cls, "mirlan_VexaOrla");
    EXPECT_EQ(vendor, 0);  // not started: no input id
    EXPECT_EQ(product, 0);
    EXPECT_EQ(location, 0x01120000u);
}

TEST_F(BusObjectTest, ManagerObjectCarriesTheDriverVersion) {
    sd_bus_message* m = nullptr;
    ASSERT_GE(sd_bus_message_new_method_call(client, &m, bus::kBusName, bus::kManagerPath,
                                             "org.freedesktop.DBus.Properties", "Get"),
              0);
    ASSERT_GE(sd_bus_message_append(m, "ss", bus::kManagerInterface, bus::kVersionProperty), 0);
    sd_bus_message* reply = call(m);
    sd_bus_message_unref(m);
    ASSERT_NE(reply, nullptr);
    const char* version = nullptr;
    ASSERT_GE(sd_bus_message_read(reply, "v", "s", &version), 0);
    EXPECT_STREQ(version, "4.0");
    sd_bus_message_unref(reply);
}

}  // namespace
