// The set-up daemon's part of the demonstration run by tools/run: in the
// guest, systemd runs the driver and the daemon from their units, and a
// stand-in for logind says that alice is at the console. Each typed key is
// shown with what the system receives from the driver's virtual keyboard:
// alice's saved table arrives with the keyboard, follows her next save (the
// editor's "Reconfigure"), and comes back when the keyboard is plugged in
// again.
#include <libevdev/libevdev.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "tests/vm/daemon_guest.h"
#include "tests/vm/evdev_node.h"
#include "tests/vm/test_keyboard.h"

namespace {

using namespace vexa::guest;

// The keys a tap of `usage` sends to the system ("" when none), read up to
// the marker key (F24).
std::string tapOnce(TestKeyboard& kb, EvdevNode& clone, std::uint8_t usage) {
    for (std::uint8_t u : {usage, std::uint8_t{0x73}}) {
        kb.press(u);
        kb.release(u);
    }
    std::string keys;
    while (auto ev = clone.next(3000)) {
        if (ev->type != EV_KEY || ev->value != 1) continue;
        if (ev->code == KEY_F24) return keys;
        const char* name = libevdev_event_code_get_name(EV_KEY, ev->code);
        if (!keys.empty()) keys += ' ';
        keys += name != nullptr ? name : "?";
    }
    return keys + " (timeout)";
}

// Taps A until it sends `expected`: the daemon's table has arrived.
bool waitFor(TestKeyboard& kb, EvdevNode& clone, const char* expected) {
    for (int i = 0; i < 100; ++i) {
        if (tapOnce(kb, clone, 0x04) == expected) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// Plugs the keyboard in and waits until the daemon's table is on it.
bool plugAndWait(std::unique_ptr<TestKeyboard>& kb, EvdevNode& clone, const char* expected) {
    clone.close();
    kb.reset();
    // The old keyboard's virtual keyboard goes with it.
    for (int i = 0; i < 250 && !findEventNodes(kOrlaANSI.vendor, kOrlaANSI.product, NodeKind::VirtualClone).empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    kb = plugUhidKeyboard(kOrlaANSI);
    const std::string node = waitForEventNode(kOrlaANSI.vendor, kOrlaANSI.product, NodeKind::VirtualClone, 5000,
                                              [&] { kb->pump(0); });
    return !node.empty() && clone.open(node) && waitFor(*kb, clone, expected);
}

void typeKeys(TestKeyboard& kb, EvdevNode& clone) {
    const struct {
        std::uint8_t usage;
        const char* legend;
    } keys[] = {{0x04, "A"}, {0x05, "B"}, {0x39, "Caps Lock"}, {0x29, "Esc"}};
    for (const auto& k : keys) std::printf("    %-10s -> %s\n", k.legend, tapOnce(kb, clone, k.usage).c_str());
}

int fail(const std::string& what) {
    std::printf("  %s\n", what.c_str());
    return 1;
}

}  // namespace

int main() {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    std::printf("\n== Vexa Orla set-up daemon demonstration (systemd runs both services) ==\n");
    DriverProcess driver("mirlan.driver.VexaOrla.service");
    DaemonGuest guest;
    if (!driver.start()) return fail("the driver's unit did not start");
    std::string error = guest.consoleUser("alice", 1000);
    if (error.empty()) error = guest.save("alice", {{0x04, 0x29}, {0x39, 0xE0}});
    if (error.empty()) error = guest.startDaemon();
    if (!error.empty()) return fail(error);

    std::printf("\n1. alice is at the console; her saved table: A -> Escape, Caps Lock -> Left Control.\n"
                "   A \"Vexa Orla ANSI\" keyboard is plugged in; the daemon gives it her table:\n");
    std::unique_ptr<TestKeyboard> kb;
    EvdevNode clone;
    if (!plugAndWait(kb, clone, "KEY_ESC")) return fail("alice's table did not arrive");
    typeKeys(*kb, clone);

    std::printf("\n2. alice saves A -> B in the editor, which sends \"Reconfigure\":\n");
    error = guest.save("alice", {{0x04, 0x05}});
    if (error.empty()) error = guest.reconfigure();
    if (!error.empty() || !waitFor(*kb, clone, "KEY_B")) return fail("the new table did not arrive " + error);
    typeKeys(*kb, clone);

    std::printf("\n3. Unplugged and plugged in again: a new driver instance, and alice's table again:\n");
    if (!plugAndWait(kb, clone, "KEY_B")) return fail("the table did not come back");
    typeKeys(*kb, clone);

    clone.close();
    kb.reset();
    error = guest.stopDaemon();
    std::printf("\n4. systemctl stop: the daemon %s; the driver exits with status %d\n",
                error.empty() ? "exits with status 0" : error.c_str(), driver.stop());
    return 0;
}
