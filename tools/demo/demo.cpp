// The demonstration run by tools/run: in the guest, the VexaOrla driver
// serves a scripted JIS keyboard (a uhid device). Each typed key is shown
// with what the system receives from the driver's virtual keyboard, first
// with the JIS default table, then with a user table set over the bus, and
// after the keyboard is unplugged and plugged in again.
#include <libevdev/libevdev.h>

#include <cstdio>
#include <string>
#include <vector>

#include "keymap/keymap.h"
#include "tests/vm/driver_client.h"
#include "tests/vm/evdev_node.h"
#include "tests/vm/test_keyboard.h"

namespace {

using namespace vexa::guest;

struct Key {
    std::uint8_t usage;
    const char* legend;
};

const std::vector<Key> kTyping = {
    {0x04, "A"}, {0x35, "Zenkaku"}, {0x39, "Caps Lock"}, {0x8B, "Muhenkan"}, {0x8A, "Henkan"},
    {0x88, "Kana"}, {0x29, "Esc"}, {0x2C, "Space"},
};

std::string received(EvdevNode& clone, TestKeyboard& kb) {
    std::string out;
    // The key is pressed and released; whatever the virtual keyboard sends
    // up to the marker key (F24) is what the system got.
    kb.press(0x73);
    kb.release(0x73);
    for (;;) {
        kb.pump(0);
        auto ev = clone.next(3000);
        if (!ev) return out + " (timeout)";
        if (ev->type != EV_KEY || ev->value != 1) continue;
        if (ev->code == KEY_F24) break;
        const char* name = libevdev_event_code_get_name(EV_KEY, ev->code);
        out += out.empty() ? "" : " ";
        out += name ? name : std::to_string(ev->code);
    }
    return out.empty() ? "(nothing: key disabled)" : out;
}

bool attach(DriverBus& bus, TestKeyboard& kb, EvdevNode& clone, std::string& path) {
    for (int i = 0; i < 250; ++i) {
        auto list = bus.instances();
        if (list.size() == 1) {
            path = list.front().path;
            std::printf("  driver instance %s: Class %s, VendorID %d, ProductID %d, LocationID 0x%08x\n",
                        path.c_str(), list.front().cls.c_str(), list.front().vendor, list.front().product,
                        list.front().location);
            const std::string node = waitForEventNode(kb.description.vendor, kb.description.product,
                                                      NodeKind::VirtualClone, 5000, [&] { kb.pump(0); });
            return !node.empty() && clone.open(node);
        }
        kb.pump(20);
    }
    return false;
}

void type(TestKeyboard& kb, EvdevNode& clone) {
    received(clone, kb);  // settles the grab
    for (const Key& k : kTyping) {
        kb.press(k.usage);
        kb.release(k.usage);
        std::printf("    %-10s (usage 0x%02X) -> %s\n", k.legend, k.usage, received(clone, kb).c_str());
    }
}

}  // namespace

int main() {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    std::printf("\n== Vexa Orla driver demonstration (Debian kernel in qemu) ==\n");
    DriverProcess driver;
    if (!driver.start()) {
        std::printf("the driver did not start\n");
        return 1;
    }
    DriverBus bus;
    std::string path;
    auto kb = plugUhidKeyboard(kOrlaJIS);
    EvdevNode clone;
    std::printf("\n1. A \"Vexa Orla JIS\" keyboard is plugged in (USB 1278/7); no user table yet:\n");
    if (!kb || !attach(bus, *kb, clone, path)) return 1;
    type(*kb, clone);

    std::printf("\n2. A user table arrives over the bus (SetProperties {\"VexaKeyMap\": 256 bytes}):\n"
                "   A -> Escape, Caps Lock -> Left Control, Esc -> disabled, Space -> Eject (111)\n");
    std::vector<std::uint8_t> table(256);
    KZ714defaultOrlaJISKeymap(table.data());
    table[0x04] = 0x29;
    table[0x39] = 0xE0;
    table[0x29] = 0;
    table[0x2C] = KZ714_KEYCODE_EJECT;
    std::string error;
    std::printf("  SetProperties returned %d\n", bus.setKeymap(path, table, &error));
    type(*kb, clone);

    std::printf("\n3. Unplugged and plugged in again: a new instance, back to the JIS defaults:\n");
    clone.close();
    kb.reset();
    kb = plugUhidKeyboard(kOrlaJIS);
    if (!kb || !attach(bus, *kb, clone, path)) return 1;
    type(*kb, clone);

    clone.close();
    kb.reset();
    std::printf("\n4. SIGTERM: the driver exits with status %d\n", driver.stop());
    return 0;
}
