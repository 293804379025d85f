// The service loop: watched descriptors served beside sd-event's sources,
// sd-event sources enabled from a watched descriptor's handler, and
// unwatching from inside a handler.
#include "platform/input/input_loop.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;
// Timers below are given an accuracy of 1 us: sd-event's default of 250 ms
// would let them fire together.

struct Pipe {
    int fds[2] = {-1, -1};
    Pipe() { EXPECT_EQ(pipe2(fds, O_NONBLOCK | O_CLOEXEC), 0); }
    ~Pipe() {
        close(fds[0]);
        close(fds[1]);
    }
    void send(const char* text) const { ASSERT_GT(write(fds[1], text, std::char_traits<char>::length(text)), 0); }
    std::string take() const {
        char buf[64];
        const ssize_t n = read(fds[0], buf, sizeof buf);
        return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : "";
    }
};

struct LoopTest : ::testing::Test {
    sd_event* event = nullptr;
    void SetUp() override { ASSERT_GE(sd_event_new(&event), 0); }
    void TearDown() override { sd_event_unref(event); }
    // A timer that ends a stuck run with code 99 after three seconds.
    void addSafetyTimer() {
        ASSERT_GE(sd_event_add_time_relative(
                      event, nullptr, CLOCK_MONOTONIC, 3000000, 1,
                      [](sd_event_source* s, std::uint64_t, void*) {
                          return sd_event_exit(sd_event_source_get_event(s), 99);
                      },
                      nullptr),
                  0);
    }
};

TEST_F(LoopTest, WatchedDescriptorsAndEventSourcesBothRun) {
    vexa::InputLoop loop(event);
    Pipe keys;
    struct State {
        const Pipe* keys;
        std::string got;
    } state{&keys, ""};
    loop.watch(keys.fds[0], [](void* p) {
        auto* st = static_cast<State*>(p);
        st->got += st->keys->take();
    }, &state);
    // sd-event timers write to the watched pipe, then end the run.
    ASSERT_GE(sd_event_add_time_relative(
                  event, nullptr, CLOCK_MONOTONIC, 1000, 1,
                  [](sd_event_source*, std::uint64_t, void* p) {
                      static_cast<const Pipe*>(p)->send("a");
                      return 0;
                  },
                  &keys),
              0);
    ASSERT_GE(sd_event_add_time_relative(
                  event, nullptr, CLOCK_MONOTONIC, 100000, 1,
                  [](sd_event_source* s, std::uint64_t, void*) { return sd_event_exit(sd_event_source_get_event(s), 7); },
                  nullptr),
              0);
    addSafetyTimer();
    EXPECT_EQ(loop.run(), 7);
    EXPECT_EQ(state.got, "a");
}

TEST_F(LoopTest, SourceEnabledByAHandlerRunsWithoutWaitingForAnythingElse) {
    vexa::InputLoop loop(event);
    Pipe keys;
    sd_event_source* deferred = nullptr;
    ASSERT_GE(sd_event_add_defer(
                  event, &deferred,
                  [](sd_event_source* s, void*) { return sd_event_exit(sd_event_source_get_event(s), 7); }, nullptr),
              0);
    ASSERT_GE(sd_event_source_set_enabled(deferred, SD_EVENT_OFF), 0);
    struct State {
        vexa::InputLoop* loop;
        const Pipe* keys;
        sd_event_source* deferred;
    } state{&loop, &keys, deferred};
    loop.watch(keys.fds[0], [](void* p) {
        auto* st = static_cast<State*>(p);
        st->keys->take();
        sd_event_source_set_enabled(st->deferred, SD_EVENT_ONESHOT);
        st->loop->wakeEventLoop();
    }, &state);
    addSafetyTimer();
    keys.send("x");
    const auto start = Clock::now();
    EXPECT_EQ(loop.run(), 7);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
    sd_event_source_unref(deferred);
}

TEST_F(LoopTest, AHandlerMayUnwatchItselfAndOthers) {
    vexa::InputLoop loop(event);
    Pipe first, second;
    struct State {
        vexa::InputLoop* loop;
        const Pipe* first;
        const Pipe* second;
        int firstCalls = 0, secondCalls = 0;
    } state{&loop, &first, &second};
    loop.watch(first.fds[0], [](void* p) {
        auto* st = static_cast<State*>(p);
        ++st->firstCalls;
        st->loop->unwatch(st->first->fds[0]);
        st->loop->unwatch(st->second->fds[0]);
    }, &state);
    loop.watch(second.fds[0], [](void* p) { ++static_cast<State*>(p)->secondCalls; }, &state);
    // Both readable at once and never read: only the first handler runs, once.
    first.send("1");
    second.send("2");
    ASSERT_GE(sd_event_add_time_relative(
                  event, nullptr, CLOCK_MONOTONIC, 200000, 1,
                  [](sd_event_source* s, std::uint64_t, void*) { return sd_event_exit(sd_event_source_get_event(s), 7); },
                  nullptr),
              0);
    EXPECT_EQ(loop.run(), 7);
    EXPECT_EQ(state.firstCalls, 1);
    EXPECT_EQ(state.secondCalls, 0);
}

}  // namespace
