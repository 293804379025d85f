#include "platform/input/key_event_pipeline.h"

#include <optional>

#include "driver/hid_keycodes.h"

namespace vexa {

namespace {

std::uint64_t timeStampNs(const input_event& ev) {
    return static_cast<std::uint64_t>(ev.input_event_sec) * 1000000000ULL +
           static_cast<std::uint64_t>(ev.input_event_usec) * 1000ULL;
}

}  // namespace

KeyEventPipeline::KeyEventPipeline(KeyEventSink& sink, KeyDispatcher& dispatcher)
    : sink_(sink), dispatcher_(dispatcher) {
    pressed_.reserve(32);
}

void KeyEventPipeline::write(std::uint16_t type, std::uint16_t code, std::int32_t value) {
    sink_.writeEvent(type, code, value);
    unsynced_ = type != EV_SYN;
}

void KeyEventPipeline::feed(const input_event& ev) {
    switch (ev.type) {
    case EV_MSC:
        if (ev.code == MSC_SCAN) {
            haveScan_ = true;
            scan_ = static_cast<std::uint32_t>(ev.value);
            return;
        }
        break;
    case EV_KEY: {
        const bool scanned = haveScan_;
        haveScan_ = false;
        // The virtual keyboard repeats held keys itself; passing the
        // keyboard's own repeats on would repeat every key twice.
        if (ev.value == 2) return;
        if (!scanned) break;
        dispatching_ = true;
        currentScan_ = scan_;
        currentKey_ = ev.code;
        dispatcher_.dispatchKey(timeStampNs(ev), scan_ >> 16, scan_ & 0xFFFF,
                                static_cast<std::uint32_t>(ev.value));
        dispatching_ = false;
        // A release that the dispatcher dropped still ends the press.
        if (ev.value == 0) {
            if (const auto index = findPressed(currentScan_)) releaseEntry(*index);
        }
        return;
    }
    case EV_SYN:
        haveScan_ = false;
        if (ev.code == SYN_REPORT && unsynced_) write(EV_SYN, SYN_REPORT, 0);
        return;
    case EV_LED:
    case EV_SND:
    case EV_REP:
        // LED and sound state of the virtual keyboard belong to whoever
        // writes them there; the keyboard's echo of its own state would
        // come back to it.
        return;
    default:
        break;
    }
    write(ev.type, ev.code, ev.value);
}

void KeyEventPipeline::feedResync(const input_event& ev) {
    if (ev.type != EV_KEY || ev.value != 0) return;
    for (std::size_t i = pressed_.size(); i-- > 0;) {
        if (pressed_[i].inputKey == ev.code) releaseEntry(i);
    }
}

void KeyEventPipeline::emitKey(HidUsage out, std::int32_t value) {
    if (!dispatching_) {
        const auto key = reportedKeyFromUsage(out);
        if (!key) return;
        if (value == 1) pressOutput(out, *key);
        else if (value == 0) releaseOutput(out, *key);
        return;
    }
    const auto index = findPressed(currentScan_);
    if (value == 1) {
        if (index) return;
        const bool unchanged = (out.page << 16 | out.usage) == currentScan_;
        const auto key = unchanged ? std::optional<std::uint16_t>(currentKey_) : reportedKeyFromUsage(out);
        if (!key) return;
        pressed_.push_back({currentScan_, currentKey_, out, *key});
        pressOutput(out, *key);
    } else if (value == 0 && index) {
        releaseEntry(*index);
    }
}

std::optional<std::size_t> KeyEventPipeline::findPressed(std::uint32_t inputScan) const {
    for (std::size_t i = 0; i < pressed_.size(); ++i) {
        if (pressed_[i].inputScan == inputScan) return i;
    }
    return std::nullopt;
}

void KeyEventPipeline::releaseAll() {
    while (!pressed_.empty()) releaseEntry(pressed_.size() - 1);
}

void KeyEventPipeline::releaseEntry(std::size_t index) {
    const Pressed p = pressed_[index];
    pressed_.erase(pressed_.begin() + static_cast<std::ptrdiff_t>(index));
    releaseOutput(p.output, p.outputKey);
}

void KeyEventPipeline::sendKey(HidUsage out, std::uint16_t key, std::int32_t value) {
    write(EV_MSC, MSC_SCAN, static_cast<std::int32_t>(out.page << 16 | out.usage));
    write(EV_KEY, key, value);
    write(EV_SYN, SYN_REPORT, 0);
}

void KeyEventPipeline::pressOutput(HidUsage out, std::uint16_t key) {
    if (key >= downCount_.size()) return;
    if (downCount_[key]++ == 0) sendKey(out, key, 1);
}

void KeyEventPipeline::releaseOutput(HidUsage out, std::uint16_t key) {
    if (key >= downCount_.size() || downCount_[key] == 0) return;
    if (--downCount_[key] == 0) sendKey(out, key, 0);
}

}  // namespace vexa
