// The key path of one keyboard, without any device: events read from the
// keyboard go in, events for the virtual keyboard come out through a sink.
//
// A key event that follows an MSC_SCAN in the same frame is handed to a
// dispatcher with the scan's usage page and usage; whatever the dispatcher
// sends back through emitKey() is written as MSC_SCAN, key code, SYN_REPORT.
// A release always releases what the press of the same physical key
// produced, even when the dispatcher's answer has changed in between, and a
// key that produced nothing on press produces nothing on release. A key sent
// on with its own usage keeps the key code the kernel gave it, so keys that
// no table touches (media keys, system keys, buttons) pass unchanged.
#pragma once

#include <linux/input.h>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "driver/key_filter.h"

namespace vexa {

class KeyEventSink {
public:
    virtual void writeEvent(std::uint16_t type, std::uint16_t code, std::int32_t value) = 0;

protected:
    ~KeyEventSink() = default;
};

class KeyDispatcher {
public:
    // One key event of the keyboard: page and usage from its MSC_SCAN,
    // value 1 = press, 0 = release. Answer through KeyEventPipeline::emitKey.
    virtual void dispatchKey(std::uint64_t timeStampNs, std::uint32_t usagePage, std::uint32_t usage,
                             std::uint32_t value) = 0;

protected:
    ~KeyDispatcher() = default;
};

class KeyEventPipeline {
public:
    KeyEventPipeline(KeyEventSink& sink, KeyDispatcher& dispatcher);

    // One event read from the keyboard (not a SYN_DROPPED resync).
    void feed(const input_event& ev);
    // One event of a resync after SYN_DROPPED: a key seen released during
    // the gap releases whatever its press produced; everything else is
    // dropped, since its press or change was never seen in order.
    void feedResync(const input_event& ev);
    // Sends a usage as a key event. Inside a dispatch the press is remembered
    // for the physical key being dispatched; a release sends the remembered
    // output. The key being dispatched's own usage is sent with its own key
    // code; other usages Linux has no key for are dropped.
    void emitKey(HidUsage out, std::int32_t value);
    // Releases every key that is down on the output (before a stop).
    void releaseAll();
    // True while some output key is held.
    bool anyOutputDown() const { return !pressed_.empty(); }

private:
    struct Pressed {
        std::uint32_t inputScan;   // page << 16 | usage of the physical key
        std::uint16_t inputKey;    // the key code the keyboard reported with it
        HidUsage output;
        std::uint16_t outputKey;
    };

    void write(std::uint16_t type, std::uint16_t code, std::int32_t value);
    void sendKey(HidUsage out, std::uint16_t key, std::int32_t value);
    void pressOutput(HidUsage out, std::uint16_t key);
    void releaseOutput(HidUsage out, std::uint16_t key);
    void releaseEntry(std::size_t index);
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
    std::vector<Pressed> pressed_;
    // How many physical keys hold each output key down; the output sees one
    // press when the first goes down and one release when the last comes up.
    std::array<std::uint8_t, KEY_CNT> downCount_{};
};

}  // namespace vexa
