#include "platform/input/key_event_pipeline.h"

#include "platform/input/hid_keycodes.h"

namespace vexa {

namespace {

// The record of a press that came without a scan: no physical key's usage,
// and nothing to send but its key code.
constexpr std::uint32_t kNoScan = 0;
constexpr HidUsage kNoUsage{0, 0};

std::uint64_t timeStampNs(const input_event& ev) {
    return static_cast<std::uint64_t>(ev.input_event_sec) * 1000000000ULL +
           static_cast<std::uint64_t>(ev.input_event_usec) * 1000ULL;
}

}  // namespace

KeyEventPipeline::KeyEventPipeline(KeyEventSink& sink, KeyDispatcher& dispatcher)
    : sink_(sink), dispatcher_(dispatcher) {
    pressed_.reserve(64);
}

void KeyEventPipeline::append(std::uint16_t type, std::uint16_t code, std::int32_t value) {
    if (outCount_ == out_.size()) flush();
    input_event& ev = out_[outCount_++];
    ev.type = type;
    ev.code = code;
    ev.value = value;
    unsynced_ = type != EV_SYN;
}

void KeyEventPipeline::flush() {
    if (outCount_ == 0) return;
    sink_.writeEvents(out_.data(), outCount_);
    outCount_ = 0;
}

void KeyEventPipeline::feed(const input_event* events, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const input_event& ev = events[i];
        if (dropping_) {
            // The rest of the frame cut by the gap. At its end, what came up
            // meanwhile is released before the events that follow.
            if (ev.type == EV_SYN && ev.code == SYN_REPORT) {
                dropping_ = false;
                gapState_ = dispatcher_.keyboardKeyState();
                releaseUp(gapState_);
                resyncDue_ = true;
            }
            continue;
        }
        switch (ev.type) {
        case EV_MSC:
            if (ev.code == MSC_SCAN) {
                haveScan_ = true;
                scan_ = static_cast<std::uint32_t>(ev.value);
                continue;
            }
            break;
        case EV_KEY:
            handleKey(ev);
            continue;
        case EV_SYN:
            haveScan_ = false;
            if (ev.code == SYN_DROPPED) dropping_ = true;
            else if (ev.code == SYN_REPORT && unsynced_) append(EV_SYN, SYN_REPORT, 0);
            continue;
        case EV_LED:
        case EV_SND:
        case EV_REP:
            // LED and sound state of the virtual keyboard belong to whoever
            // writes them there; the keyboard's echo of its own state would
            // come back to it.
            continue;
        default:
            break;
        }
        append(ev.type, ev.code, ev.value);
    }
    // The key state was read after these events: a press among them whose
    // key is up already had its release dropped with the reader's queue.
    if (resyncDue_ && !dropping_) {
        resyncDue_ = false;
        releaseUp(gapState_);
    }
    flush();
}

void KeyEventPipeline::handleKey(const input_event& ev) {
    const bool scanned = haveScan_;
    haveScan_ = false;
    // The virtual keyboard repeats held keys itself; passing the keyboard's
    // own repeats on would repeat every key twice.
    if (ev.value == 2) return;
    if (!scanned) {
        if (ev.code >= downCount_.size()) return;
        if (ev.value == 0) {
            // The kernel releases held keys without a scan on suspend, resume
            // and disconnect: such a release ends the presses of that key. A
            // key that other presses hold on the output stays down.
            if (!releaseByKey(ev.code) && downCount_[ev.code] == 0) append(EV_KEY, ev.code, 0);
            return;
        }
        // A press without a scan has no usage to look up: it passes as it
        // came, recorded like any other, so that its release ends it
        // whichever way that comes (with a scan, without, or after a gap).
        pressed_.push_back({kNoScan, ev.code, kNoUsage, ev.code});
        if (downCount_[ev.code]++ == 0) append(EV_KEY, ev.code, 1);
        return;
    }
    const bool recorded = findPressed(scan_).has_value();
    dispatching_ = true;
    currentScan_ = scan_;
    currentKey_ = ev.code;
    dispatcher_.dispatchKey(timeStampNs(ev), scan_ >> 16, scan_ & 0xFFFF, static_cast<std::uint32_t>(ev.value));
    dispatching_ = false;
    if (ev.value != 0) return;
    if (!recorded) {
        // Two usages with one key code, held together: the kernel sends the
        // key's only release with the scan of whichever came up first.
        releaseByKey(ev.code);
        return;
    }
    // A release that the dispatcher dropped still ends the press.
    if (const auto index = findPressed(currentScan_)) releaseEntry(*index);
}

void KeyEventPipeline::resync(const KeyBits& down) {
    haveScan_ = false;
    releaseUp(down);
    if (unsynced_) append(EV_SYN, SYN_REPORT, 0);
    flush();
}

void KeyEventPipeline::releaseUp(const KeyBits& down) {
    for (std::size_t i = pressed_.size(); i-- > 0;) {
        if (!keyBitSet(down, pressed_[i].inputKey)) releaseEntry(i);
    }
}

void KeyEventPipeline::emitKey(HidUsage out, std::int32_t value) {
    if (!dispatching_) {
        if (const auto key = reportedKeyFromUsage(out)) {
            if (value == 1) pressOutput(out, *key);
            else if (value == 0) releaseOutput(out, *key);
        }
        flush();
        return;
    }
    const auto index = findPressed(currentScan_);
    if (value == 1) {
        if (index) return;
        const bool unchanged = out.scan() == currentScan_;
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

bool KeyEventPipeline::releaseByKey(std::uint16_t inputKey) {
    bool found = false;
    for (std::size_t i = pressed_.size(); i-- > 0;) {
        if (pressed_[i].inputKey != inputKey) continue;
        releaseEntry(i);
        found = true;
    }
    return found;
}

void KeyEventPipeline::releaseAll() {
    while (!pressed_.empty()) releaseEntry(pressed_.size() - 1);
    flush();
}

void KeyEventPipeline::releaseEntry(std::size_t index) {
    const Pressed p = pressed_[index];
    pressed_.erase(pressed_.begin() + static_cast<std::ptrdiff_t>(index));
    releaseOutput(p.output, p.outputKey);
}

void KeyEventPipeline::sendKey(HidUsage out, std::uint16_t key, std::int32_t value) {
    if (out != kNoUsage) append(EV_MSC, MSC_SCAN, static_cast<std::int32_t>(out.scan()));
    append(EV_KEY, key, value);
    append(EV_SYN, SYN_REPORT, 0);
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
