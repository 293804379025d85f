// The "Reconfigure" channel over a private system bus.
#include "prefs/reconfigure.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <systemd/sd-bus.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <memory>

#include "prefs/prefs.h"
#include "prefs/setupper_bus.h"
#include "tests/support/event_loop.h"
#include "tests/support/private_bus.h"

namespace {

using namespace std::chrono_literals;
using vexa::Notification;
using vexa::test::runDefaultEventLoopUntil;

class Recorder : public vexa::SetUpperNotificationObserver {
public:
    void setUpperNotification(const Notification& n) override {
        received.push_back(n);
        if (onReceive) onReceive();
    }
    std::vector<Notification> received;
    std::function<void()> onReceive;
};

std::vector<std::string> objects(const Recorder& r) {
    std::vector<std::string> out;
    for (const auto& n : r.received) {
        EXPECT_EQ(n.name, "mirlan.daemon.VexaOrla");
        out.push_back(n.object);
    }
    return out;
}

class ReconfigureTest : public ::testing::Test {
protected:
    void TearDown() override {
        for (auto* r : {&first, &second}) KZ730removeSetUpperNotification(r);
    }
    // Runs the loop until `count` deliveries reached `r`, or 5 s passed.
    bool waitFor(const Recorder& r, std::size_t count) {
        return runDefaultEventLoopUntil([&] { return r.received.size() >= count; }, 5s);
    }
    // Lets anything still in flight arrive.
    void drain() { runDefaultEventLoopUntil([] { return false; }, 200ms); }

    vexa::test::PrivateSystemBus bus;
    Recorder first, second;
};

TEST_F(ReconfigureTest, RegisteringNullIsRefused) {
    EXPECT_EQ(KZ730registerSetUpperNotification(nullptr), KZ730_ERR_REGISTER_NULL);
    KZ730removeSetUpperNotification(nullptr);  // harmless
}

TEST_F(ReconfigureTest, TwoPostsFromAnotherProcessArriveTwiceInOrder) {
    ASSERT_EQ(KZ730registerSetUpperNotification(&first), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        KZ730postReconfigureNotification();
        KZ730postReconfigureNotification();
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(waitFor(first, 2));
    drain();
    EXPECT_EQ(objects(first), (std::vector<std::string>{"Reconfigure", "Reconfigure"}));
}

TEST_F(ReconfigureTest, TheObjectTextArrivesUnchanged) {
    ASSERT_EQ(KZ730registerSetUpperNotification(&first), 0);
    const std::vector<std::string> sent = {"Reconfigure", "reconfigure", "", "RECONFIGURE ", "Größe ✓ 設定",
                                           std::string(4096, 'x')};
    for (const auto& text : sent) ASSERT_EQ(vexa::postSetUpperNotification(text), 0);
    ASSERT_TRUE(waitFor(first, sent.size()));
    drain();
    EXPECT_EQ(objects(first), sent);
}

TEST_F(ReconfigureTest, ObserversMatchOnTheInterfaceOnly) {
    ASSERT_EQ(KZ730registerSetUpperNotification(&first), 0);
    sd_bus* raw = nullptr;
    ASSERT_GE(sd_bus_open_system(&raw), 0);
    std::unique_ptr<sd_bus, decltype(&sd_bus_flush_close_unref)> poster(raw, &sd_bus_flush_close_unref);
    // Another path and member: still delivered. Another interface: not.
    ASSERT_GE(sd_bus_emit_signal(raw, "/some/where", "mirlan.daemon.VexaOrla", "Other", "s", "one"), 0);
    ASSERT_GE(sd_bus_emit_signal(raw, "/mirlan/daemon/VexaOrla", "mirlan.daemon.Other", "Notification", "s", "two"), 0);
    // No argument at all: delivered with an empty object.
    ASSERT_GE(sd_bus_emit_signal(raw, "/mirlan/daemon/VexaOrla", "mirlan.daemon.VexaOrla", "Notification", ""), 0);
    ASSERT_GE(sd_bus_emit_signal(raw, "/mirlan/daemon/VexaOrla", "mirlan.daemon.VexaOrla", "Notification", "u", 7u), 0);
    ASSERT_GE(sd_bus_flush(raw), 0);
    ASSERT_TRUE(waitFor(first, 3));
    drain();
    EXPECT_EQ(objects(first), (std::vector<std::string>{"one", "", ""}));
}

TEST_F(ReconfigureTest, RemovedObserversGetNothingAndOthersGoOn) {
    ASSERT_EQ(KZ730registerSetUpperNotification(&first), 0);
    ASSERT_EQ(KZ730registerSetUpperNotification(&second), 0);
    // `first` removes itself while its first notification is delivered.
    first.onReceive = [this] { KZ730removeSetUpperNotification(&first); };
    ASSERT_EQ(vexa::postSetUpperNotification("a"), 0);
    ASSERT_TRUE(waitFor(second, 1));
    ASSERT_EQ(vexa::postSetUpperNotification("b"), 0);
    ASSERT_TRUE(waitFor(second, 2));
    drain();
    EXPECT_EQ(objects(first), std::vector<std::string>{"a"});
    EXPECT_EQ(objects(second), (std::vector<std::string>{"a", "b"}));

    // The last observer removing itself inside its delivery closes the channel.
    second.onReceive = [this] { KZ730removeSetUpperNotification(&second); };
    ASSERT_EQ(vexa::postSetUpperNotification("c"), 0);
    ASSERT_TRUE(waitFor(second, 3));
    drain();
    EXPECT_EQ(objects(second), (std::vector<std::string>{"a", "b", "c"}));
    // And a new registration opens it again.
    ASSERT_EQ(KZ730registerSetUpperNotification(&first), 0);
    first.onReceive = nullptr;
    ASSERT_EQ(vexa::postSetUpperNotification("d"), 0);
    ASSERT_TRUE(waitFor(first, 2));
    EXPECT_EQ(objects(first), (std::vector<std::string>{"a", "d"}));
}

TEST_F(ReconfigureTest, PostingWithNobodyListeningIsNoError) {
    EXPECT_EQ(vexa::postSetUpperNotification("Reconfigure"), 0);
    KZ730postReconfigureNotification();
}

// The poster never waits for an observer: with the observer's loop not
// running, the posts return (0, not the one-second give-up), and the
// notifications arrive only once that loop runs.
TEST_F(ReconfigureTest, APostDoesNotWaitForTheObserver) {
    ASSERT_EQ(KZ730registerSetUpperNotification(&first), 0);
    ASSERT_EQ(vexa::postSetUpperNotification("Reconfigure"), 0);
    ASSERT_EQ(vexa::postSetUpperNotification("Reconfigure"), 0);
    EXPECT_TRUE(first.received.empty());
    ASSERT_TRUE(waitFor(first, 2));
}

TEST_F(ReconfigureTest, PostingNeverWaitsLongForAStuckOrMissingBus) {
    // A bus daemon that accepts the connection but never answers.
    ASSERT_EQ(::kill(bus.pid(), SIGSTOP), 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(vexa::postSetUpperNotification("Reconfigure"), -ETIMEDOUT);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    ASSERT_EQ(::kill(bus.pid(), SIGCONT), 0);

    vexa::test::ScopedEnv nowhere("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/vexa/socket");
    EXPECT_LT(vexa::postSetUpperNotification("Reconfigure"), 0);
    EXPECT_LT(KZ730registerSetUpperNotification(&first), 0);
}

}  // namespace
