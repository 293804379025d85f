// Tests the report-descriptor parser and the input decoder on real keyboard descriptors and on malformed ones.
#include "platform/hid/input_decoder.h"
#include "platform/hid/report_descriptor.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <ostream>

#include "tests/vm/test_keyboard.h"

namespace vexa::hid {

void PrintTo(const InputValue& v, std::ostream* os) {
    *os << "{page " << v.usagePage << ", usage 0x" << std::hex << v.usage << std::dec << ", " << v.value << "}";
}

namespace {

using Bytes = std::vector<std::uint8_t>;

// The boot keyboard of the USB HID class definition's example: modifier bits, a
// reserved byte, LED output, and six key indices 0..101.
const Bytes kBootKeyboard = {
    0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x05, 0x07, 0x19, 0xE0, 0x29, 0xE7, 0x15, 0x00, 0x25, 0x01,
    0x75, 0x01, 0x95, 0x08, 0x81, 0x02, 0x95, 0x01, 0x75, 0x08, 0x81, 0x01, 0x95, 0x05, 0x75, 0x01,
    0x05, 0x08, 0x19, 0x01, 0x29, 0x05, 0x91, 0x02, 0x95, 0x01, 0x75, 0x03, 0x91, 0x01, 0x95, 0x06,
    0x75, 0x08, 0x15, 0x00, 0x25, 0x65, 0x05, 0x07, 0x19, 0x00, 0x29, 0x65, 0x81, 0x00, 0xC0,
};

// A keyboard with media keys and a pointing stick behind report IDs, as
// many compact keyboards describe themselves.
const Bytes kKeyboardWithReportIds = {
    // Report 1: the keyboard (modifiers, reserved byte, LEDs, six keys 0..255)
    0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x85, 0x01,
    0x05, 0x07, 0x19, 0xE0, 0x29, 0xE7, 0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x08, 0x81, 0x02,
    0x95, 0x01, 0x75, 0x08, 0x81, 0x01,
    0x95, 0x05, 0x75, 0x01, 0x05, 0x08, 0x19, 0x01, 0x29, 0x05, 0x91, 0x02, 0x95, 0x01, 0x75, 0x03, 0x91, 0x01,
    0x95, 0x06, 0x75, 0x08, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x05, 0x07, 0x19, 0x00, 0x2A, 0xFF, 0x00, 0x81, 0x00,
    0xC0,
    // Report 2: consumer control, one 16-bit usage index 0..0x29C
    0x05, 0x0C, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x02,
    0x15, 0x00, 0x26, 0x9C, 0x02, 0x19, 0x00, 0x2A, 0x9C, 0x02, 0x75, 0x10, 0x95, 0x01, 0x81, 0x00,
    0xC0,
    // Report 3: consumer control, Mute / Volume Up / Volume Down as bits, then padding
    0x05, 0x0C, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x03,
    0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x03, 0x09, 0xE2, 0x09, 0xE9, 0x09, 0xEA, 0x81, 0x02,
    0x95, 0x05, 0x81, 0x03,
    0xC0,
    // Report 4: mouse, three buttons and relative X, Y in -127..127
    0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x85, 0x04, 0x09, 0x01, 0xA1, 0x00,
    0x05, 0x09, 0x19, 0x01, 0x29, 0x03, 0x15, 0x00, 0x25, 0x01, 0x95, 0x03, 0x75, 0x01, 0x81, 0x02,
    0x95, 0x01, 0x75, 0x05, 0x81, 0x03,
    0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x15, 0x81, 0x25, 0x7F, 0x75, 0x08, 0x95, 0x02, 0x81, 0x06,
    0xC0, 0xC0,
};

InputValue key(std::uint16_t usage, std::int64_t value) { return {0x07, usage, value}; }
InputValue consumer(std::uint16_t usage, std::int64_t value) { return {0x0C, usage, value}; }

struct Report {
    Bytes bytes;
    std::vector<InputValue> expected;
};

struct Scenario {
    const char* name;
    Bytes descriptor;
    std::vector<ExtendedUsage> topLevel;
    std::vector<Report> reports;
};

TEST(ReportDescriptor, ReportsOfRealKeyboards) {
    const Scenario scenarios[] = {
        {"boot keyboard",
         kBootKeyboard,
         {0x10006},
         {
             {{0, 0, 0x04, 0, 0, 0, 0, 0}, {key(0x04, 1)}},
             {{0, 0, 0x04, 0x05, 0, 0, 0, 0}, {key(0x05, 1)}},
             // A moves out of the array, B moves to its slot: only A is released.
             {{0, 0, 0x05, 0, 0, 0, 0, 0}, {key(0x04, 0)}},
             {{0x02, 0, 0x05, 0, 0, 0, 0, 0}, {key(0xE1, 1)}},
             // Too many keys down: the report says nothing about which, so nothing changes...
             {{0x02, 0, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01}, {}},
             // ...but the modifier bits beside it are still read.
             {{0x00, 0, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01}, {key(0xE1, 0)}},
             // Index 0x88 lies above the logical maximum (101): no key.
             {{0, 0, 0x05, 0x88, 0, 0, 0, 0}, {}},
             // A short report reads as zeros: every key up.
             {{0, 0}, {key(0x05, 0)}},
         }},
        {"JIS keyboard of the guest tier (indices 0..255, modifiers as bits)",
         vexa::guest::kOrlaJIS.reportDescriptor,
         {0x10006},
         {
             {{0, 0, 0x35, 0, 0, 0, 0, 0}, {key(0x35, 1)}},
             {{0, 0, 0x35, 0x88, 0x89, 0, 0, 0}, {key(0x88, 1), key(0x89, 1)}},
             // Modifier bits come first (the first field), then the array;
             // a usage twice in the array is one key.
             {{0x88, 0, 0x89, 0x89, 0, 0, 0, 0}, {key(0xE3, 1), key(0xE7, 1), key(0x35, 0), key(0x88, 0)}},
             {{0, 0, 0, 0, 0, 0, 0, 0}, {key(0xE3, 0), key(0xE7, 0), key(0x89, 0)}},
         }},
        {"keyboard with report IDs, consumer keys and a mouse",
         kKeyboardWithReportIds,
         {0x10006, 0xC0001, 0xC0001, 0x10002},
         {
             {{1, 0, 0, 0x04, 0, 0, 0, 0, 0}, {key(0x04, 1)}},
             {{2, 0xE9, 0x00}, {consumer(0xE9, 1)}},
             {{2, 0x23, 0x02}, {consumer(0xE9, 0), consumer(0x223, 1)}},
             {{2, 0x00, 0x00}, {consumer(0x223, 0)}},
             {{3, 0x05}, {consumer(0xE2, 1), consumer(0xEA, 1)}},
             {{3, 0x04}, {consumer(0xE2, 0)}},
             // Relative axes report every movement, buttons only changes;
             // X and Y are signed.
             {{4, 0x01, 0xFF, 0x02}, {{0x09, 1, 1}, {0x01, 0x30, -1}, {0x01, 0x31, 2}}},
             {{4, 0x01, 0xFF, 0x02}, {{0x01, 0x30, -1}, {0x01, 0x31, 2}}},
             {{4, 0x00, 0x81, 0x00}, {{0x09, 1, 0}, {0x01, 0x30, -127}}},
             // An unknown report ID and an empty read carry nothing.
             {{9, 0xFF, 0xFF}, {}},
             {{}, {}},
             // The keyboard's own report still holds A down until it says otherwise.
             {{1, 0, 0, 0, 0, 0, 0, 0, 0}, {key(0x04, 0)}},
         }},
    };
    for (const Scenario& s : scenarios) {
        SCOPED_TRACE(s.name);
        ReportDescriptor d;
        ASSERT_EQ(parseReportDescriptor(s.descriptor, d), 0);
        EXPECT_EQ(d.topLevelCollections, s.topLevel);
        EXPECT_TRUE(d.hasTopLevelCollection(0x01, 0x06));
        InputDecoder decoder(std::move(d));
        for (std::size_t i = 0; i < s.reports.size(); ++i) {
            std::vector<InputValue> got;
            decoder.decode(s.reports[i].bytes, got);
            EXPECT_EQ(got, s.reports[i].expected) << "report " << i;
        }
    }
}

TEST(ReportDescriptor, MalformedDescriptorsAreRefused) {
    Bytes tooLong(kMaxDescriptorSize + 1, 0x00);
    Bytes manyFields = {0x75, 0x01, 0x95, 0x01};
    for (int i = 0; i < 257; ++i) manyFields.insert(manyFields.end(), {0x09, 0x01, 0x81, 0x02});
    const struct {
        const char* name;
        Bytes bytes;
        int status;
    } cases[] = {
        {"empty", {}, 0},
        {"item data cut short", {0x05, 0x01, 0x26, 0xFF}, -EBADMSG},
        {"long item cut short", {0xFE, 0x05, 0x00, 0x01}, -EBADMSG},
        {"long item skipped", {0xFE, 0x01, 0x00, 0x01, 0x05, 0x01}, 0},
        {"report ID 0", {0x85, 0x00}, -EBADMSG},
        {"Pop without Push", {0xB4}, -EBADMSG},
        {"Push and Pop", {0xA4, 0x05, 0x07, 0xB4}, 0},
        {"End Collection without Collection", {0xC0}, -EBADMSG},
        {"collection left open", {0x09, 0x06, 0xA1, 0x01}, -EBADMSG},
        {"report count above the kernel's limit", {0x96, 0x01, 0x30}, -EBADMSG},
        {"report size above 256 bits", {0x76, 0x01, 0x01}, -EBADMSG},
        // 256 bits x 1000 = 32000 bytes in one report.
        {"report longer than 16 KiB", {0x76, 0x00, 0x01, 0x96, 0xE8, 0x03, 0x09, 0x01, 0x81, 0x02}, -EBADMSG},
        {"257 data fields in one report", manyFields, -EBADMSG},
        {"256 data fields in one report", Bytes(manyFields.begin(), manyFields.end() - 4), 0},
        {"descriptor larger than 4 KiB", tooLong, -E2BIG},
    };
    for (const auto& c : cases) {
        ReportDescriptor d;
        EXPECT_EQ(parseReportDescriptor(c.bytes, d), c.status) << c.name;
    }
}

}  // namespace
}  // namespace vexa::hid
