// The key path of one keyboard, without any device: events read from the
// keyboard go in, events for the virtual keyboard come out through a sink.
//
// A key event that follows an MSC_SCAN in the same frame is handed to a
// dispatcher with the scan's usage page and usage; whatever the dispatcher
// sends back through emitKey() is written as MSC_SCAN, key code, SYN_REPORT.
// Output is collected and handed to the sink once per call, so a batch of
// frames read from the keyboard reaches the virtual keyboard in one write.
//
// Every press is recorded with the physical key that made it, and a release
// always releases what that press produced, even when the dispatcher's
// answer has changed in between; a key that produced nothing on press
// produces nothing on release. The kernel also releases keys without a scan
// (suspend, resume, disconnect), and two usages that share one key code
// release under each other's scan: a release with no scan, or with a scan
// that no recorded press has, releases every recorded press of that key
// code. A press without a scan passes as it came and is recorded like any
// other. A key sent on with its own usage keeps the key code the kernel gave
// it, so keys that no table touches (media keys, system keys) pass unchanged.
//
// After a gap in the keyboard's events (SYN_DROPPED) the events up to the
// next SYN_REPORT are skipped; there the keyboard's key state is read and
// every recorded press whose key is up is released. Reading the state
// (EVIOCGKEY) also drops the key events still queued for the reader, so
// once the events read with the gap are handled, the presses among them
// whose key that state has up are released too: their releases were
// dropped.
#pragma once

#include <linux/input.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/input/hid_usage.h"

namespace vexa {

// A device's key state as EVIOCGKEY reports it: one bit per key code.
using KeyBits = std::array<std::uint8_t, KEY_CNT / 8>;
inline bool keyBitSet(const KeyBits& bits, unsigned code) {
    return code < KEY_CNT && ((bits[code / 8] >> (code % 8)) & 1) != 0;
}

class KeyEventSink {
public:
    // Events for the virtual keyboard, in order, usually whole frames; the
    // time fields are left for the kernel to stamp.
    virtual void writeEvents(const input_event* events, std::size_t count) = 0;

protected:
    ~KeyEventSink() = default;
};

class KeyDispatcher {
public:
    // One key event of the keyboard: page and usage from its MSC_SCAN,
    // value 1 = press, 0 = release. Answer through KeyEventPipeline::emitKey.
    virtual void dispatchKey(std::uint64_t timeStampNs, std::uint32_t usagePage, std::uint32_t usage,
                             std::uint32_t value) = 0;
    // The keys the keyboard holds now, asked after a gap in its events.
    virtual KeyBits keyboardKeyState() = 0;

protected:
    ~KeyDispatcher() = default;
};

class KeyEventPipeline {
public:
    KeyEventPipeline(KeyEventSink& sink, KeyDispatcher& dispatcher);

    // Events read from the keyboard, in order, SYN_DROPPED included.
    void feed(const input_event* events, std::size_t count);
    // `down` is the keyboard's key state now: every recorded press whose key
    // is up is released, and a frame cut short is forgotten.
    void resync(const KeyBits& down);
    // Sends a usage as a key event. Inside a dispatch the press is recorded
    // for the physical key being dispatched, and a release sends what was
    // recorded. The key being dispatched's own usage is sent with its own
    // key code; other usages Linux has no key for are dropped.
    void emitKey(HidUsage out, std::int32_t value);
    // Releases every key that is down on the output (before a stop).
    void releaseAll();
    // True while some output key is held.
    bool anyOutputDown() const { return !pressed_.empty(); }

private:
    struct Pressed {
        std::uint32_t inputScan;  // page << 16 | usage of the physical key
        std::uint16_t inputKey;   // the key code the keyboard reported with it
        HidUsage output;
        std::uint16_t outputKey;
    };

    void handleKey(const input_event& ev);
    void append(std::uint16_t type, std::uint16_t code, std::int32_t value);
    void flush();
    void sendKey(HidUsage out, std::uint16_t key, std::int32_t value);
    void pressOutput(HidUsage out, std::uint16_t key);
    void releaseOutput(HidUsage out, std::uint16_t key);
    void releaseEntry(std::size_t index);
    // Releases the recorded presses whose key is up in `down`.
    void releaseUp(const KeyBits& down);
    // Releases the recorded presses reported with this key code; false when
    // there was none.
    bool releaseByKey(std::uint16_t inputKey);
    // Index in pressed_ of the press made by this physical key, if any.
    std::optional<std::size_t> findPressed(std::uint32_t inputScan) const;

    KeyEventSink& sink_;
    KeyDispatcher& dispatcher_;
    bool haveScan_ = false;
    std::uint32_t scan_ = 0;
    bool dispatching_ = false;
    std::uint32_t currentScan_ = 0;
    std::uint16_t currentKey_ = 0;
    bool unsynced_ = false;
    bool dropping_ = false;     // inside a gap, until its SYN_REPORT
    bool resyncDue_ = false;    // a gap has ended in the events being fed
    KeyBits gapState_{};        // the key state read at its end
    std::vector<Pressed> pressed_;
    // How many physical keys hold each output key down; the output sees one
    // press when the first goes down and one release when the last comes up.
    std::array<std::uint8_t, KEY_CNT> downCount_{};
    // Output collected for the next write; flushed when full and at the end
    // of every call.
    std::array<input_event, 96> out_{};
    std::size_t outCount_ = 0;
};

}  // namespace vexa
