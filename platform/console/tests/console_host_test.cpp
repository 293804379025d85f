// The console user from a logind stand-in on a private system bus: what a
// reading gives, and the change callback on seat0's changes and across a
// restart of logind.
#include "platform/console/console.h"

#include <gtest/gtest.h>
#include <pwd.h>

#include "tests/standins/logind_standin.h"
#include "tests/standins/service_thread.h"
#include "tests/support/event_loop.h"
#include "tests/support/private_bus.h"

namespace {

using namespace std::chrono_literals;
using vexa::console::ConsoleStore;
using vexa::console::ConsoleUser;
using vexa::test::LogindStandin;

// A user ID that the passwd database does not know.
constexpr std::uint32_t kUnknownUid = 4242;

struct ConsoleTest : ::testing::Test {
    void TearDown() override {
        services.run([this] { logind.reset(); });
    }
    void startLogind() {
        services.run([this] { logind = std::make_unique<LogindStandin>(); });
    }
    void activate(const std::optional<LogindStandin::User>& user) {
        services.run([&] { logind->activate(user); });
    }
    // Runs the loop until the store has called back `count` more times.
    bool waitForCallbacks(int count) {
        const int target = callbacks + count;
        return vexa::test::runDefaultEventLoopUntil([&] { return callbacks >= target; }, 5s);
    }

    vexa::test::PrivateSystemBus bus{"<include>" VEXA_LOGIND_POLICY "</include>"};
    vexa::test::ServiceThread services;
    std::unique_ptr<LogindStandin> logind;
    int callbacks = 0;
};

TEST_F(ConsoleTest, AReadingGivesTheActiveSessionsUserOrNobody) {
    const ConsoleUser root{"root", 0, 0};
    const struct {
        const char* what;
        bool logind;
        std::optional<LogindStandin::User> active;
        std::optional<ConsoleUser> expected;
    } cases[] = {
        {"no logind", false, std::nullopt, std::nullopt},
        {"nobody at the console", true, std::nullopt, std::nullopt},
        {"root at the console", true, LogindStandin::User{"root", 0}, root},
        {"a user the passwd database does not know", true, LogindStandin::User{"ghost", kUnknownUid}, std::nullopt},
    };
    for (const auto& c : cases) {
        if (c.logind) {
            startLogind();
            activate(c.active);
        }
        sd_bus* raw = nullptr;
        ASSERT_GE(sd_bus_open_system(&raw), 0);
        vexa::BusPtr client(raw);
        EXPECT_EQ(vexa::console::readConsoleUser(client.get()), c.expected) << c.what;
        auto store = ConsoleStore::create(nullptr);
        ASSERT_TRUE(store);
        EXPECT_EQ(store->copyConsoleUser(), c.expected) << c.what;
        services.run([this] { logind.reset(); });
    }
    EXPECT_FALSE(vexa::console::localHostName().empty());
}

TEST_F(ConsoleTest, TheCallbackFollowsSeat0AndLogind) {
    startLogind();
    auto store = ConsoleStore::create([this] { ++callbacks; });
    ASSERT_TRUE(store);
    ASSERT_EQ(store->setNotificationKey(ConsoleStore::consoleUserKey()), 0);
    ASSERT_EQ(store->attachToDefaultLoop(), 0);
    EXPECT_EQ(store->copyConsoleUser(), std::nullopt);
    EXPECT_EQ(callbacks, 0) << "the first reading calls nobody back";

    activate(LogindStandin::User{"root", 0});
    ASSERT_TRUE(waitForCallbacks(1));
    EXPECT_EQ(store->copyConsoleUser(), (ConsoleUser{"root", 0, 0}));

    // logind restarting is no change of the console: the reading stands
    // while it is away, and a new one is made when it is back.
    const int whileAway = callbacks;
    services.run([this] { logind->stop(); });
    vexa::test::runDefaultEventLoopUntil([&] { return callbacks > whileAway; }, 200ms);
    EXPECT_EQ(callbacks, whileAway) << "logind going away was read as a change";
    EXPECT_EQ(store->copyConsoleUser(), (ConsoleUser{"root", 0, 0}));
    services.run([this] { logind->restart(); });
    ASSERT_TRUE(waitForCallbacks(1));
    EXPECT_EQ(store->copyConsoleUser(), (ConsoleUser{"root", 0, 0}));

    // Detached, the store hears nothing more.
    const int before = callbacks;
    store->detachFromLoop();
    activate(std::nullopt);
    vexa::test::runDefaultEventLoopUntil([] { return false; }, 200ms);
    EXPECT_EQ(callbacks, before);
}

}  // namespace
