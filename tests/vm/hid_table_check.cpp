#include "tests/vm/hid_table_check.h"

#include <linux/input.h>
#include <sys/ioctl.h>

#include <cstdio>
#include <optional>

#include "platform/input/hid_keycodes.h"
#include "tests/vm/evdev_node.h"
#include "tests/vm/test_keyboard.h"

namespace vexa::guest {

namespace {

bool testBit(const unsigned long* bits, unsigned bit) {
    return (bits[bit / (8 * sizeof(long))] >> (bit % (8 * sizeof(long)))) & 1UL;
}

}  // namespace

bool checkHidTableAgainstKernel() {
    const KeyboardDescription desc{"HID table probe", 0x1234, 0x7777, bootKeyboardDescriptor()};
    auto keyboard = plugUhidKeyboard(desc);
    if (!keyboard) return false;
    const std::string devnode =
        waitForEventNode(desc.vendor, desc.product, NodeKind::Keyboard, 5000, [&] { keyboard->pump(0); });
    EvdevNode node;
    if (devnode.empty() || !node.open(devnode)) {
        std::printf("hidtable: the probe keyboard's node did not appear\n");
        return false;
    }
    unsigned long keyBits[KEY_CNT / (8 * sizeof(long)) + 1] = {};
    ioctl(node.fd(), EVIOCGBIT(EV_KEY, sizeof keyBits), keyBits);

    int mismatches = 0;
    for (unsigned usage = 0; usage < 256; ++usage) {
        // The usage in the key array, then an empty report, then a modifier
        // bit as the end marker (a different one for the modifiers' own usages).
        const std::uint8_t marker = usage == 0xE7 ? 0x01 : 0x80;
        const std::uint16_t markerKey = usage == 0xE7 ? KEY_LEFTCTRL : KEY_RIGHTMETA;
        const std::uint8_t press[8] = {0, 0, static_cast<std::uint8_t>(usage), 0, 0, 0, 0, 0};
        const std::uint8_t empty[8] = {};
        const std::uint8_t markerDown[8] = {marker, 0, 0, 0, 0, 0, 0, 0};
        keyboard->sendReport(press);
        keyboard->sendReport(empty);
        keyboard->sendReport(markerDown);
        keyboard->sendReport(empty);

        std::optional<std::uint16_t> kernelKey;
        std::optional<std::int32_t> pendingScan;
        bool scanMatches = true;
        bool done = false;
        while (!done) {
            auto ev = node.next(2000);
            if (!ev) {
                std::printf("hidtable: usage 0x%02x: the end marker did not arrive\n", usage);
                return false;
            }
            if (ev->type == EV_MSC && ev->code == MSC_SCAN) pendingScan = ev->value;
            if (ev->type != EV_KEY) continue;
            if (ev->code == markerKey && pendingScan == static_cast<std::int32_t>(0x70000 | (0xE0 + (marker == 0x80 ? 7 : 0)))) {
                if (ev->value == 0) done = true;
                pendingScan.reset();
                continue;
            }
            if (ev->value == 1 && !kernelKey) {
                kernelKey = ev->code;
                scanMatches = pendingScan == static_cast<std::int32_t>(0x70000 | usage);
            }
            pendingScan.reset();
        }

        const auto ours = reportedKeyFromUsage({0x07, usage});
        const bool bitSet = ours && testBit(keyBits, *ours);
        if (kernelKey != ours || (ours && !bitSet) || (kernelKey && !scanMatches)) {
            ++mismatches;
            std::printf("hidtable: usage 0x%02x: kernel key %d%s, ours %d%s\n", usage, kernelKey ? *kernelKey : 0,
                        kernelKey && !scanMatches ? " (without its scan)" : "", ours ? *ours : 0,
                        ours && !bitSet ? " (not in the device's key bits)" : "");
        }
    }
    std::printf("hidtable: %d of 256 usages disagree\n", mismatches);
    std::printf("%d passed, %d failed\n", 256 - mismatches, mismatches);
    return mismatches == 0;
}

}  // namespace vexa::guest
