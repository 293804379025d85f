// The key pipeline's own bookkeeping: resync against a partial key state,
// gaps in the keyboard's events, and releasing everything before a stop.
#include "platform/input/key_event_pipeline.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Output keys recorded as (code, value); the dispatcher sends every usage on
// as it came, so the pipeline's record is all that is tested.
struct PassThrough : vexa::KeyEventSink, vexa::KeyDispatcher {
    vexa::KeyEventPipeline pipeline{*this, *this};
    std::vector<std::pair<int, int>> keys;
    vexa::KeyBits state{};  // the keyboard's key state after a gap
    int stateReads = 0;
    vexa::KeyBits keyboardKeyState() override {
        ++stateReads;
        return state;
    }
    void writeEvents(const input_event* events, std::size_t count) override {
        for (std::size_t i = 0; i < count; ++i) {
            if (events[i].type == EV_KEY) keys.emplace_back(events[i].code, events[i].value);
        }
    }
    void dispatchKey(std::uint64_t, std::uint32_t page, std::uint32_t usage, std::uint32_t value) override {
        pipeline.emitKey({page, usage}, static_cast<std::int32_t>(value));
    }
    void press(std::uint32_t usage, std::uint16_t code) {
        std::vector<input_event> frame;
        add(frame, usage, code, 1);
        pipeline.feed(frame.data(), frame.size());
    }
    // Appends a key's frame (scan, key, report) to `events`.
    static void add(std::vector<input_event>& events, std::uint32_t usage, std::uint16_t code, std::int32_t value) {
        input_event ev{};
        ev.type = EV_MSC;
        ev.code = MSC_SCAN;
        ev.value = static_cast<std::int32_t>(0x70000 | usage);
        events.push_back(ev);
        ev.type = EV_KEY;
        ev.code = code;
        ev.value = value;
        events.push_back(ev);
        ev.type = EV_SYN;
        ev.code = SYN_REPORT;
        ev.value = 0;
        events.push_back(ev);
    }
    static void hold(vexa::KeyBits& bits, std::uint16_t code) {
        bits[code / 8] |= static_cast<std::uint8_t>(1u << (code % 8));
    }
};

TEST(KeyEventPipeline, ResyncReleasesOnlyKeysThatAreUp) {
    PassThrough p;
    p.press(0x04, KEY_A);
    p.press(0x16, KEY_S);
    p.press(0xE1, KEY_LEFTSHIFT);
    p.keys.clear();
    vexa::KeyBits down{};
    PassThrough::hold(down, KEY_S);
    p.pipeline.resync(down);
    EXPECT_EQ(p.keys, (std::vector<std::pair<int, int>>{{KEY_LEFTSHIFT, 0}, {KEY_A, 0}}));
    EXPECT_TRUE(p.pipeline.anyOutputDown()) << "S is still held";
    p.keys.clear();
    p.pipeline.releaseAll();
    EXPECT_EQ(p.keys, (std::vector<std::pair<int, int>>{{KEY_S, 0}}));
    EXPECT_FALSE(p.pipeline.anyOutputDown());
}

// At the gap's end the keys that came up are released; reading the state
// there drops the key events still queued, so it also counts the releases
// of keys whose presses were read after the gap: those are released once
// the events read with the gap are handled.
TEST(KeyEventPipeline, GapIsResolvedWithTheStateReadAtItsEnd) {
    PassThrough p;
    p.press(0x04, KEY_A);
    p.press(0x16, KEY_S);
    p.keys.clear();
    input_event drop{};
    drop.type = EV_SYN;
    drop.code = SYN_DROPPED;
    std::vector<input_event> batch{drop};
    PassThrough::add(batch, 0x04, KEY_A, 0);  // the frame cut by the gap: skipped
    PassThrough::add(batch, 0x07, KEY_D, 1);  // D went down after the gap...
    PassThrough::add(batch, 0x09, KEY_F, 1);
    PassThrough::hold(p.state, KEY_S);        // ...and is up again now; S and F are held
    PassThrough::hold(p.state, KEY_F);
    p.pipeline.feed(batch.data(), 1);  // the gap begins at the end of one read...
    EXPECT_EQ(p.stateReads, 0);
    p.pipeline.feed(batch.data() + 1, batch.size() - 1);  // ...and ends in the next
    EXPECT_EQ(p.stateReads, 1);
    EXPECT_EQ(p.keys, (std::vector<std::pair<int, int>>{{KEY_A, 0}, {KEY_D, 1}, {KEY_F, 1}, {KEY_D, 0}}));
    p.keys.clear();
    p.pipeline.releaseAll();
    EXPECT_EQ(p.keys, (std::vector<std::pair<int, int>>{{KEY_F, 0}, {KEY_S, 0}}));
}

}  // namespace
