// The driver's key path as scenarios: keyboard frames and table changes
// in, events for the virtual keyboard out, through mirlan_VexaOrla.
#include "driver/mirlan_VexaOrla.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace {

using vexa::HidUsage;

struct Ev {
    std::uint16_t type, code;
    std::int32_t value;
    friend bool operator==(const Ev&, const Ev&) = default;
};

std::ostream& operator<<(std::ostream& os, const Ev& e) {
    return os << "{" << e.type << "," << e.code << "," << e.value << "}";
}

// The driver class itself, fed keyboard events as its device glue feeds
// them, with its output recorded instead of written to a virtual keyboard.
struct Harness : vexa::KeyEventSink {
    mirlan_VexaOrla driver;
    std::vector<Ev> out;
    int writes = 0;
    Harness() {
        KZ714defaultOrlaANSIKeymap(driver.keymap);
        driver.redirectOutput(this);
    }
    void writeEvents(const input_event* events, std::size_t count) override {
        ++writes;
        for (std::size_t i = 0; i < count; ++i) out.push_back({events[i].type, events[i].code, events[i].value});
    }
    void feed(const std::vector<Ev>& events) {
        std::vector<input_event> batch(events.size());
        for (std::size_t i = 0; i < events.size(); ++i) {
            batch[i].type = events[i].type;
            batch[i].code = events[i].code;
            batch[i].value = events[i].value;
        }
        driver.handleKeyboardEvents(batch.data(), batch.size());
    }
};

// A HID keyboard's frame for one key: scan, key, report.
std::vector<Ev> key(std::uint32_t usage, std::uint16_t code, std::int32_t value) {
    return {{EV_MSC, MSC_SCAN, static_cast<std::int32_t>(0x70000 | usage)}, {EV_KEY, code, value}, {EV_SYN, SYN_REPORT, 0}};
}
// What the virtual keyboard gets for one key.
std::vector<Ev> sent(std::uint32_t scan, std::uint16_t code, std::int32_t value) {
    return {{EV_MSC, MSC_SCAN, static_cast<std::int32_t>(scan)}, {EV_KEY, code, value}, {EV_SYN, SYN_REPORT, 0}};
}

struct Step {
    std::vector<Ev> in;              // one keyboard frame
    std::vector<std::pair<int, int>> table;  // entries set before the frame
    std::vector<Ev> expected;
};

struct Scenario {
    const char* name;
    std::vector<Step> steps;
};

std::vector<Ev> concat(std::vector<Ev> a, const std::vector<Ev>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(KeyPath, Scenarios) {
    const std::vector<Scenario> scenarios = {
        {"identity passes the key", {
            {key(0x04, KEY_A, 1), {}, sent(0x70004, KEY_A, 1)},
            {key(0x04, KEY_A, 0), {}, sent(0x70004, KEY_A, 0)}}},
        {"remap", {
            {key(0x04, KEY_A, 1), {{4, 0x29}}, sent(0x70029, KEY_ESC, 1)},
            {key(0x04, KEY_A, 0), {}, sent(0x70029, KEY_ESC, 0)}}},
        {"disabled key sends neither press nor release", {
            {key(0x04, KEY_A, 1), {{4, 0}}, {}},
            {key(0x04, KEY_A, 0), {}, {}}}},
        {"table value 111 is consumer eject", {
            {key(0x04, KEY_A, 1), {{4, 111}}, sent(0xC00B8, KEY_EJECTCD, 1)},
            {key(0x04, KEY_A, 0), {}, sent(0xC00B8, KEY_EJECTCD, 0)}}},
        {"release after a table swap releases what the press produced", {
            {key(0x04, KEY_A, 1), {{4, 0x05}}, sent(0x70005, KEY_B, 1)},
            {key(0x04, KEY_A, 0), {{4, 0x06}}, sent(0x70005, KEY_B, 0)}}},
        {"release after the key was disabled while held", {
            {key(0x04, KEY_A, 1), {}, sent(0x70004, KEY_A, 1)},
            {key(0x04, KEY_A, 0), {{4, 0}}, sent(0x70004, KEY_A, 0)}}},
        {"key enabled while held sends no stray release", {
            {key(0x04, KEY_A, 1), {{4, 0}}, {}},
            {key(0x04, KEY_A, 0), {{4, 4}}, {}}}},
        {"two keys on one output: one press, released by the last", {
            {key(0x04, KEY_A, 1), {{5, 4}}, sent(0x70004, KEY_A, 1)},
            {key(0x05, KEY_B, 1), {}, {}},
            {key(0x04, KEY_A, 0), {}, {}},
            {key(0x05, KEY_B, 0), {}, sent(0x70004, KEY_A, 0)}}},
        {"keyboard repeats are dropped (the virtual keyboard repeats)", {
            {key(0x04, KEY_A, 1), {}, sent(0x70004, KEY_A, 1)},
            {{{EV_KEY, KEY_A, 2}, {EV_SYN, SYN_REPORT, 0}}, {}, {}}}},
        {"usage the kernel reports without a key of its own: KEY_UNKNOWN with its scan", {
            {key(0x04, KEY_A, 1), {{4, 0x82}}, sent(0x70082, KEY_UNKNOWN, 1)},
            {key(0x04, KEY_A, 0), {}, sent(0x70082, KEY_UNKNOWN, 0)}}},
        {"usage the kernel ignores is dropped", {
            {key(0x04, KEY_A, 1), {{4, 0x03}}, {}},
            {key(0x04, KEY_A, 0), {}, {}}}},
        {"two keys in one frame", {
            {{{EV_MSC, MSC_SCAN, 0x700E1}, {EV_KEY, KEY_LEFTSHIFT, 1}, {EV_MSC, MSC_SCAN, 0x70004},
              {EV_KEY, KEY_A, 1}, {EV_SYN, SYN_REPORT, 0}}, {{4, 5}},
             concat(sent(0x700E1, KEY_LEFTSHIFT, 1), sent(0x70005, KEY_B, 1))}}},
        {"key without a scan and other events pass unchanged", {
            {{{EV_KEY, KEY_A, 1}, {EV_REL, REL_X, 3}, {EV_SYN, SYN_REPORT, 0}}, {{4, 5}},
             {{EV_KEY, KEY_A, 1}, {EV_REL, REL_X, 3}, {EV_SYN, SYN_REPORT, 0}}}}},
        {"scan of another page passes through unchanged", {
            {{{EV_MSC, MSC_SCAN, 0xC00B8}, {EV_KEY, KEY_EJECTCD, 1}, {EV_SYN, SYN_REPORT, 0}}, {{0xB8, 0}},
             sent(0xC00B8, KEY_EJECTCD, 1)}}},
        // A keyboard's media-key and power-button interfaces: keys the
        // table never touches keep the key code the kernel gave them.
        {"consumer and system keys pass with their own key codes", {
            {{{EV_MSC, MSC_SCAN, 0xC00E9}, {EV_KEY, KEY_VOLUMEUP, 1}, {EV_SYN, SYN_REPORT, 0}}, {{0xE9, 0}},
             sent(0xC00E9, KEY_VOLUMEUP, 1)},
            {{{EV_MSC, MSC_SCAN, 0x10081}, {EV_KEY, KEY_POWER, 1}, {EV_SYN, SYN_REPORT, 0}}, {},
             sent(0x10081, KEY_POWER, 1)},
            {{{EV_MSC, MSC_SCAN, 0xC00E9}, {EV_KEY, KEY_VOLUMEUP, 0}, {EV_SYN, SYN_REPORT, 0}}, {},
             sent(0xC00E9, KEY_VOLUMEUP, 0)}}},
        {"page-7 usage above 255 passes with the kernel's key", {
            {{{EV_MSC, MSC_SCAN, 0x7012C}, {EV_KEY, KEY_UNKNOWN, 1}, {EV_SYN, SYN_REPORT, 0}}, {},
             sent(0x7012C, KEY_UNKNOWN, 1)}}},
        {"LED echo of the keyboard is not passed on", {
            {{{EV_LED, LED_CAPSL, 1}, {EV_SYN, SYN_REPORT, 0}}, {}, {}}}},
        // The kernel releases held keys without a scan on suspend, resume
        // and disconnect.
        {"release without a scan ends the press; the next press works", {
            {key(0x04, KEY_A, 1), {{4, 5}}, sent(0x70005, KEY_B, 1)},
            {{{EV_KEY, KEY_A, 0}, {EV_SYN, SYN_REPORT, 0}}, {}, sent(0x70005, KEY_B, 0)},
            {key(0x04, KEY_A, 1), {}, sent(0x70005, KEY_B, 1)}}},
        {"release without a scan of a key pressed without one passes unchanged", {
            {{{EV_KEY, KEY_A, 1}, {EV_SYN, SYN_REPORT, 0}}, {}, {{EV_KEY, KEY_A, 1}, {EV_SYN, SYN_REPORT, 0}}},
            {{{EV_KEY, KEY_A, 0}, {EV_SYN, SYN_REPORT, 0}}, {}, {{EV_KEY, KEY_A, 0}, {EV_SYN, SYN_REPORT, 0}}}}},
        // 0x31 and 0x32 are both KEY_BACKSLASH: the kernel sends the second
        // press as a bare scan and the only release under the scan of
        // whichever key came up first.
        {"two usages on one key code, released under the other's scan", {
            {key(0x31, KEY_BACKSLASH, 1), {{0x31, 0x05}}, sent(0x70005, KEY_B, 1)},
            {{{EV_MSC, MSC_SCAN, 0x70032}, {EV_SYN, SYN_REPORT, 0}}, {}, {}},
            {key(0x32, KEY_BACKSLASH, 0), {}, sent(0x70005, KEY_B, 0)},
            {{{EV_MSC, MSC_SCAN, 0x70031}, {EV_SYN, SYN_REPORT, 0}}, {}, {}},
            {key(0x31, KEY_BACKSLASH, 1), {}, sent(0x70005, KEY_B, 1)}}},
        {"press without a scan, released under a scan, is released", {
            {{{EV_KEY, KEY_A, 1}, {EV_SYN, SYN_REPORT, 0}}, {{4, 5}}, {{EV_KEY, KEY_A, 1}, {EV_SYN, SYN_REPORT, 0}}},
            {key(0x04, KEY_A, 0), {}, {{EV_KEY, KEY_A, 0}, {EV_SYN, SYN_REPORT, 0}}}}},
        // A (disabled) and B (sending A) held when the kernel releases both
        // without scans: A's release must not take B's output down early.
        {"release without a scan leaves an output that another key holds", {
            {key(0x04, KEY_A, 1), {{4, 0}, {5, 4}}, {}},
            {key(0x05, KEY_B, 1), {}, sent(0x70004, KEY_A, 1)},
            {{{EV_KEY, KEY_A, 0}, {EV_SYN, SYN_REPORT, 0}}, {}, {}},
            {{{EV_KEY, KEY_B, 0}, {EV_SYN, SYN_REPORT, 0}}, {}, sent(0x70004, KEY_A, 0)}}},
        {"a scan does not carry into the next frame", {
            {{{EV_MSC, MSC_SCAN, 0x70004}, {EV_SYN, SYN_REPORT, 0}}, {{4, 5}}, {}},
            {{{EV_KEY, KEY_A, 1}, {EV_SYN, SYN_REPORT, 0}}, {}, {{EV_KEY, KEY_A, 1}, {EV_SYN, SYN_REPORT, 0}}}}},
    };
    for (const Scenario& s : scenarios) {
        Harness h;
        for (std::size_t i = 0; i < s.steps.size(); ++i) {
            const Step& step = s.steps[i];
            for (auto [index, value] : step.table) h.driver.keymap[index] = static_cast<std::uint8_t>(value);
            h.out.clear();
            h.feed(step.in);
            EXPECT_EQ(h.out, step.expected) << s.name << ", step " << i;
        }
    }
}

TEST(KeyPath, DroppedEventsReleaseWhatIsUp) {
    // Without a device the key state after the gap reads as all up: every
    // key came up meanwhile, and the ioctl that says so has dropped the
    // release of D that followed its press.
    Harness h;
    h.driver.keymap[4] = 5;
    h.feed(key(0x04, KEY_A, 1));
    h.feed(key(0x16, KEY_S, 1));
    h.out.clear();
    h.feed({{EV_SYN, SYN_DROPPED, 0}, {EV_MSC, MSC_SCAN, 0x70004}, {EV_KEY, KEY_A, 0}, {EV_SYN, SYN_REPORT, 0},
            {EV_MSC, MSC_SCAN, 0x70007}, {EV_KEY, KEY_D, 1}, {EV_SYN, SYN_REPORT, 0}});
    EXPECT_EQ(h.out, concat(concat(concat(sent(0x70016, KEY_S, 0), sent(0x70005, KEY_B, 0)), sent(0x70007, KEY_D, 1)),
                            sent(0x70007, KEY_D, 0)))
        << "keys up after the gap are released, the frame after it is handled, and D, up by then, is released";
}

TEST(KeyPath, OneWritePerBatchOfFrames) {
    Harness h;
    h.feed(key(0x04, KEY_A, 1));
    EXPECT_EQ(h.writes, 1);
    EXPECT_EQ(h.out, sent(0x70004, KEY_A, 1));
    h.feed(concat(concat(key(0x05, KEY_B, 1), key(0x05, KEY_B, 0)), key(0x04, KEY_A, 0)));
    EXPECT_EQ(h.writes, 2) << "three frames read together leave in one write";
    h.feed({{EV_MSC, MSC_SCAN, 0x70004}, {EV_SYN, SYN_REPORT, 0}});
    EXPECT_EQ(h.writes, 2) << "a frame with nothing to send writes nothing";
}

}  // namespace
