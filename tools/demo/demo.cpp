// The suite's demonstration, run by tools/run on a machine that cannot
// install the package itself: in a Debian 12 guest that boots with systemd,
// a user's tables saved as the editor saves them reach a "Vexa Orla ANSI"
// keyboard (a uhid device) once the suite's package is installed, follow
// her next save and its "Reconfigure", come back when the keyboard is
// plugged in again, and go with the package. Each step is one line: what
// happened, then what four keys typed on the keyboard send to the system.
//   vexa_guest_demo PACKAGE.deb
#include <libevdev/libevdev.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "tests/vm/daemon_guest.h"
#include "tests/vm/evdev_node.h"
#include "tests/vm/package_guest.h"
#include "tests/vm/test_keyboard.h"

namespace {

using namespace vexa::guest;

// Pressed and released after each key: whatever the system receives before
// it belongs to that key. F24: no table here changes it.
constexpr std::uint8_t kMarkerUsage = 0x73;

const struct {
    std::uint8_t usage;
    const char* legend;
} kTyped[] = {{0x04, "A"}, {0x05, "B"}, {0x39, "Caps Lock"}, {0x29, "Esc"}};

// The keys the system receives for a tap of `usage` on `node` (the
// keyboard's own node or the driver's virtual keyboard), as names.
std::string tapOnce(TestKeyboard& kb, EvdevNode& node, std::uint8_t usage) {
    for (std::uint8_t u : {usage, kMarkerUsage}) {
        kb.press(u);
        kb.release(u);
    }
    std::string keys;
    while (auto ev = node.next(3000)) {
        if (ev->type != EV_KEY || ev->value != 1) continue;
        if (ev->code == KEY_F24) return keys.empty() ? "(off)" : keys;
        const char* name = libevdev_event_code_get_name(EV_KEY, ev->code);
        const std::string text = name == nullptr ? "?" : std::string(name).substr(4);  // without "KEY_"
        keys += keys.empty() ? text : " " + text;
    }
    return keys + " (no answer)";
}

std::string typed(TestKeyboard& kb, EvdevNode& node) {
    std::string line;
    for (const auto& k : kTyped)
        line += std::string(line.empty() ? "" : ", ") + k.legend + " -> " + tapOnce(kb, node, k.usage);
    return "  " + line;
}

// Taps A until the system receives `key` for it: a table has arrived.
bool aSends(TestKeyboard& kb, EvdevNode& node, const char* key) {
    for (int i = 0; i < 200; ++i) {
        if (tapOnce(kb, node, 0x04) == key) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// Opens the driver's virtual keyboard of the plugged keyboard.
bool openVirtualKeyboard(TestKeyboard& kb, EvdevNode& node) {
    const std::string path =
        waitForEventNode(kOrlaANSI.vendor, kOrlaANSI.product, NodeKind::VirtualClone, 10000, [&] { kb.pump(0); });
    return !path.empty() && node.open(path);
}

bool openOwnNode(TestKeyboard& kb, EvdevNode& node) {
    const std::string path =
        waitForEventNode(kOrlaANSI.vendor, kOrlaANSI.product, NodeKind::Keyboard, 5000, [&] { kb.pump(0); });
    return !path.empty() && node.open(path);
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

int fail(const std::string& what) {
    std::printf("    stopped: %s\n", what.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s PACKAGE.deb\n", argv[0]);
        return 2;
    }
    const std::string deb = argv[1];
    std::printf("\n== The Vexa Orla suite in a Debian 12 guest (qemu, systemd), installed from %s ==\n"
                "   After each step: keys tapped on the keyboard -> the key the system receives.\n\n",
                deb.substr(deb.rfind('/') + 1).c_str());

    DaemonGuest console;
    std::string error = package::maskLogind();
    if (error.empty()) error = console.consoleUser("alice", 1000);
    if (error.empty()) error = console.save("alice", {{0x04, 0x29}, {0x39, 0xE0}});
    if (!error.empty()) return fail(error);
    std::printf("1. alice is at the console; with the editor she saved: A sends ESC, Caps Lock sends LEFTCTRL\n");

    std::unique_ptr<TestKeyboard> kb = plugUhidKeyboard(kOrlaANSI);
    EvdevNode own, remapped;
    if (!kb || !openOwnNode(*kb, own)) return fail("the keyboard did not appear");
    std::printf("2. a Vexa Orla ANSI keyboard is plugged in, no suite yet:%s\n", typed(*kb, own).c_str());

    auto start = std::chrono::steady_clock::now();
    if (error = package::install(deb); !error.empty()) return fail(error);
    if (error = package::servicesAre("loaded/enabled/active"); !error.empty()) return fail(error);
    std::printf("3. apt-get install of the package: the driver and the set-up daemon run (%.0f s)\n",
                secondsSince(start));

    if (!openVirtualKeyboard(*kb, remapped) || !aSends(*kb, remapped, "ESC"))
        return fail("alice's tables did not reach the keyboard");
    std::printf("4. the daemon gave alice's table to the keyboard as it started:%s\n", typed(*kb, remapped).c_str());

    error = console.save("alice", {{0x04, 0x05}, {0x29, 0x00}});
    if (error.empty()) error = console.reconfigure();
    if (!error.empty()) return fail(error);
    if (!aSends(*kb, remapped, "B")) return fail("the new table did not reach the keyboard");
    std::printf("5. she saves A sends B, Esc off; the editor's \"Reconfigure\" makes it live:%s\n",
                typed(*kb, remapped).c_str());

    own.close();
    remapped.close();
    kb.reset();
    // The old virtual keyboard goes with the keyboard.
    const auto virtualKeyboardThere = [] {
        return !findEventNodes(kOrlaANSI.vendor, kOrlaANSI.product, NodeKind::VirtualClone).empty();
    };
    for (int i = 0; i < 250 && virtualKeyboardThere(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    kb = plugUhidKeyboard(kOrlaANSI);
    if (!kb || !openOwnNode(*kb, own) || !openVirtualKeyboard(*kb, remapped) || !aSends(*kb, remapped, "B"))
        return fail("the table did not come back after the re-plug");
    std::printf("6. the keyboard is unplugged and plugged in again; her table is back:%s\n",
                typed(*kb, remapped).c_str());

    start = std::chrono::steady_clock::now();
    if (error = package::uninstallWithScript(); !error.empty()) return fail(error);
    if (error = package::servicesAre("not-found//inactive"); !error.empty()) return fail(error);
    remapped.close();
    own.drain();
    std::printf("7. the installer's uninstall script removed the suite (%.0f s); the keyboard's own keys again:%s\n",
                secondsSince(start), typed(*kb, own).c_str());
    return 0;
}
