// Test keyboards for the guest: a keyboard is described as data (name, USB
// vendor and product, report descriptor) and one helper turns the
// description into a real device, either a uhid device or a USB keyboard
// made from a configfs HID gadget on the dummy host controller.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace vexa::guest {

struct KeyboardDescription {
    std::string name;
    std::uint16_t vendor;
    std::uint16_t product;
    std::vector<std::uint8_t> reportDescriptor;  // boot keyboard layout: 8-byte input, 1-byte LED output
};

// A boot-protocol keyboard: modifier bits, a reserved byte, five LEDs and a
// six-key array of usages 0..0xFF (the JIS keys lie above 0x65).
std::vector<std::uint8_t> bootKeyboardDescriptor();

// A consumer-control interface laid out like the boot keyboard's reports:
// two constant bytes and a six-entry array of consumer usages 0..0xFF
// (avoid 0xE0..0xE7, which press() treats as modifier bits).
std::vector<std::uint8_t> consumerControlDescriptor();

extern const KeyboardDescription kOrlaANSI;     // 1278/6
// The media-key interface of the same ANSI keyboard (a second HID device).
extern const KeyboardDescription kOrlaANSIMedia;
extern const KeyboardDescription kOrlaJIS;      // 1278/7
extern const KeyboardDescription kOrlaJISOld;   // 1138/104
extern const KeyboardDescription kOtherKeyboard;

class TestKeyboard {
public:
    explicit TestKeyboard(const KeyboardDescription& d) : description(d) {}
    virtual ~TestKeyboard() = default;

    // Key state changes; each sends one input report. False on a write error.
    bool press(std::uint8_t usage);
    bool release(std::uint8_t usage);
    bool releaseAll();
    // Sends an 8-byte report as it is.
    virtual bool sendReport(const std::uint8_t* report) = 0;
    // Handles what the kernel sent to the device (requests, LED reports);
    // waits up to timeoutMs for something to arrive.
    virtual void pump(int timeoutMs) = 0;
    // The last LED output report (bit 0 Num Lock, bit 1 Caps Lock), -1 before any.
    int ledReport() const { return led_; }
    // The name of the input device the kernel makes for it.
    virtual std::string inputName() const { return description.name; }

    const KeyboardDescription& description;

protected:
    int led_ = -1;

private:
    bool sendState();
    std::set<std::uint8_t> down_;
};

// Where a USB gadget keyboard is plugged in and how its device descriptor
// reads: dummy_udc.<udc> is the port 1 of USB bus <udc> + 1 (the guest
// has two), and a device class other than 0 comes with subclass 2 and
// protocol 1 (0xEF: a composite device that groups its interfaces).
struct GadgetOptions {
    int udc = 0;
    std::uint8_t deviceClass = 0;
};

// Creates the device; nullptr with a message on stderr on failure.
std::unique_ptr<TestKeyboard> plugUhidKeyboard(const KeyboardDescription& d);
std::unique_ptr<TestKeyboard> plugGadgetKeyboard(const KeyboardDescription& d, GadgetOptions options = {});

}  // namespace vexa::guest
