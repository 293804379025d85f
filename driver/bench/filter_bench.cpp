// Cost of one key event through the filter plus the usage -> key code
// lookup, the work the driver adds to every key event.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>

#include "platform/input/hid_keycodes.h"
#include "driver/key_filter.h"

namespace {

void BM_FilterAndLookup(benchmark::State& state) {
    std::array<std::uint8_t, 256> table{};
    KZ714defaultOrlaJISKeymap(table.data());
    table[0x04] = 0x29;
    table[0x05] = 0;
    table[0x06] = 111;
    // A realistic spread of usages: letters, a remap, a drop, eject, modifiers.
    const std::uint32_t usages[16] = {0x04, 0x05, 0x06, 0x28, 0x2C, 0x35, 0x88, 0xE1,
                                     0x1E, 0x8A, 0x52, 0xE3, 0x14, 0x1A, 0x08, 0x15};
    std::size_t i = 0;
    for (auto _ : state) {
        const vexa::HidUsage in{7, usages[i++ & 15]};
        auto out = vexa::filterKeyboardEvent(table.data(), in);
        std::uint16_t key = 0;
        if (out) key = vexa::reportedKeyFromUsage(*out).value_or(0);
        benchmark::DoNotOptimize(key);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FilterAndLookup);

}  // namespace

BENCHMARK_MAIN();
