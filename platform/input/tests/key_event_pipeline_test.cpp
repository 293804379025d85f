// The key pipeline's own bookkeeping: resync against a partial key state,
// and releasing everything before a stop.
#include "platform/input/key_event_pipeline.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Output keys recorded as (code, value); the dispatcher sends every usage on
// as it came, so the pipeline's record is all that is tested.
struct PassThrough : vexa::KeyEventSink, vexa::KeyDispatcher {
    vexa::KeyEventPipeline pipeline{*this, *this};
    std::vector<std::pair<int, int>> keys;
    void writeEvents(const input_event* events, std::size_t count) override {
        for (std::size_t i = 0; i < count; ++i) {
            if (events[i].type == EV_KEY) keys.emplace_back(events[i].code, events[i].value);
        }
    }
    void dispatchKey(std::uint64_t, std::uint32_t page, std::uint32_t usage, std::uint32_t value) override {
        pipeline.emitKey({page, usage}, static_cast<std::int32_t>(value));
    }
    void press(std::uint32_t usage, std::uint16_t code) {
        input_event frame[3]{};
        frame[0].type = EV_MSC;
        frame[0].code = MSC_SCAN;
        frame[0].value = static_cast<std::int32_t>(0x70000 | usage);
        frame[1].type = EV_KEY;
        frame[1].code = code;
        frame[1].value = 1;
        frame[2].type = EV_SYN;
        pipeline.feed(frame, 3);
    }
};

TEST(KeyEventPipeline, ResyncReleasesOnlyKeysThatAreUp) {
    PassThrough p;
    p.press(0x04, KEY_A);
    p.press(0x16, KEY_S);
    p.press(0xE1, KEY_LEFTSHIFT);
    p.keys.clear();
    vexa::KeyBits down{};
    down[KEY_S / 8] |= static_cast<std::uint8_t>(1u << (KEY_S % 8));
    p.pipeline.resync(down);
    EXPECT_EQ(p.keys, (std::vector<std::pair<int, int>>{{KEY_LEFTSHIFT, 0}, {KEY_A, 0}}));
    EXPECT_TRUE(p.pipeline.anyOutputDown()) << "S is still held";
    p.keys.clear();
    p.pipeline.releaseAll();
    EXPECT_EQ(p.keys, (std::vector<std::pair<int, int>>{{KEY_S, 0}}));
    EXPECT_FALSE(p.pipeline.anyOutputDown());
}

}  // namespace
