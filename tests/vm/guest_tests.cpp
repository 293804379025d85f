// The guest tests: run inside the qemu guest against the real kernel input
// stack, uhid or USB gadget keyboards and the real VexaOrla process.
//   vexa_guest_tests driver   the driver scenarios on uhid keyboards
//   vexa_guest_tests usb      the driver on a USB keyboard (dummy_hcd gadget) and the
//                             daemon's reconnection of USB keyboards (systemd as PID 1)
//   vexa_guest_tests hidtable our HID usage table against the kernel's
//   vexa_guest_tests unit     the driver run by systemd from its unit file
//   vexa_guest_tests daemon   the set-up daemon and the driver, both run by systemd
// A word after the group runs only the scenarios whose names hold it.
#include <linux/input.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "daemon/set_upper.h"
#include "driver/bus_names.h"
#include "tests/vm/daemon_guest.h"
#include "tests/vm/hid_table_check.h"
#include "tests/vm/reconnect_guest.h"
#include "tests/vm/scenario.h"

namespace {

using namespace vexa::guest;
using namespace vexa::guest::step;

std::uint32_t kb(std::uint32_t usage) { return 0x70000 | usage; }

// A key pressed and released on the keyboard...
std::vector<Step> tap(std::uint8_t usage) { return {Press{usage}, Release{usage}}; }
// Each key from `first` to `last` tapped in turn.
std::vector<Step> taps(std::uint8_t first, std::uint8_t last) {
    std::vector<Step> steps;
    for (unsigned u = first; u <= last; ++u) {
        const auto t = tap(static_cast<std::uint8_t>(u));
        steps.insert(steps.end(), t.begin(), t.end());
    }
    return steps;
}
// ...and what a reader sees for a tap.
std::vector<KeyOut> tapped(std::uint32_t scan, std::uint16_t code) { return {{scan, code, 1}, {scan, code, 0}}; }

std::vector<KeyOut> operator+(std::vector<KeyOut> a, const std::vector<KeyOut>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Builds a step list from steps and step lists.
struct Steps {
    std::vector<Step> all;
    Steps(std::initializer_list<std::vector<Step>> parts) {
        for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    }
    operator std::vector<Step>() const { return all; }
};
std::vector<Step> one(Step s) { return {std::move(s)}; }

// A uhid keyboard has no USB parent: its LocationID is 0.
const std::vector<Step> kStartWithANSI = {StartDriver{}, Plug{&kOrlaANSI}, ExpectInstance{0u}};

std::vector<Scenario> driverScenarios() {
    return {
        {"ANSI keyboard unchanged without a table",
         Steps{kStartWithANSI, tap(0x04), tap(0x35), tap(0x66),
               one(Expect{tapped(kb(0x04), KEY_A) + tapped(kb(0x35), KEY_GRAVE) + tapped(kb(0x66), KEY_POWER)}),
               one(StopDriver{})}},
        {"JIS defaults, keyboard present before the driver starts",
         Steps{{Plug{&kOrlaJIS}, StartDriver{}, ExpectInstance{}}, tap(0x35), tap(0x88), tap(0x8A), tap(0x8B),
               tap(0x04),
               one(Expect{tapped(kb(0xE3), KEY_LEFTMETA) + tapped(kb(0xE7), KEY_RIGHTMETA) +
                          tapped(kb(0x90), KEY_HANGEUL) + tapped(kb(0x91), KEY_HANJA) + tapped(kb(0x04), KEY_A)})}},
        {"JIS defaults on the older vendor id",
         Steps{{StartDriver{}, Plug{&kOrlaJISOld}, ExpectInstance{}}, tap(0x35),
               one(Expect{tapped(kb(0xE3), KEY_LEFTMETA)})}},
        {"SetProperties with a table remaps",
         Steps{kStartWithANSI, one(SetTable{false, {{0x04, 0x29}, {0x39, 0xE0}}}), tap(0x04), tap(0x39), tap(0x05),
               one(Expect{tapped(kb(0x29), KEY_ESC) + tapped(kb(0xE0), KEY_LEFTCTRL) + tapped(kb(0x05), KEY_B)})}},
        {"a disabled key sends neither press nor release",
         Steps{kStartWithANSI, one(SetTable{false, {{0x04, 0}}}), tap(0x04), one(Expect{{}}), tap(0x05),
               one(Expect{tapped(kb(0x05), KEY_B)})}},
        {"table value 111 arrives as consumer Eject",
         Steps{kStartWithANSI, one(SetTable{false, {{0x04, 111}}}), tap(0x04), tap(0x6F),
               one(Expect{tapped(0xC00B8, KEY_EJECTCD) + tapped(0xC00B8, KEY_EJECTCD)})}},
        {"255- and 257-byte tables are refused and change nothing",
         Steps{kStartWithANSI,
               {SetTable{false, {{0x04, 0x05}}}, SetTable{false, {{0x04, 0x06}}, 255, -EOPNOTSUPP},
                SetTable{false, {{0x04, 0x07}}, 257, -EOPNOTSUPP}},
               tap(0x04), one(Expect{tapped(kb(0x05), KEY_B)})}},
        {"everyone may read the instances, only root may set a table", Steps{kStartWithANSI, one(NobodyReadsButCannotSet{})}},
        {"unplug removes the instance, re-plug starts with the default table",
         Steps{{StartDriver{}, Plug{&kOrlaJIS}, ExpectInstance{}, ExpectAddedSignal{}, SetTable{false, {}}}, tap(0x35),
               one(Expect{tapped(kb(0x35), KEY_GRAVE)}),
               {Unplug{}, ExpectNoInstance{}, ExpectRemovedSignal{}, Plug{&kOrlaJIS}, ExpectInstance{std::nullopt, true},
                ExpectAddedSignal{}},
               tap(0x35), one(Expect{tapped(kb(0xE3), KEY_LEFTMETA)})}},
        {"a node that goes away while a key is held releases the key",
         Steps{kStartWithANSI,
               {SetTable{false, {{0x04, 0x05}}}, Press{0x04}, Expect{{{kb(0x05), KEY_B, 1}}}, Unplug{},
                ExpectCloneGone{{{kb(0x05), KEY_B, 0}}}, ExpectNoInstance{}, ExpectRemovedSignal{},
                Plug{&kOrlaANSI}, ExpectInstance{0u, true}},
               tap(0x04), one(Expect{tapped(kb(0x04), KEY_A)})}},
        // Media keys come from a second HID interface with the same ids; they
        // pass unchanged, with the keys the kernel gave them.
        {"a keyboard with two interfaces gets an instance for each",
         Steps{{StartDriver{}, Plug{&kOrlaANSI}, PlugInterface{&kOrlaANSIMedia}, ExpectInstance{0u, false, true, 2},
                SetTable{false, {{0x04, 0x05}}}},
               tap(0x04), one(Expect{tapped(kb(0x05), KEY_B)}),
               one(ExpectInterfaceKeys{{0xE9, 0xEA}, tapped(0xC00E9, KEY_VOLUMEUP) + tapped(0xC00EA, KEY_VOLUMEDOWN)}),
               {UnplugInterface{}, ExpectInstance{0u}}, tap(0x04), one(Expect{tapped(kb(0x05), KEY_B)})}},
        {"without uinput the keyboard is left alone and the service runs on",
         Steps{{UinputAvailable{false}, StartDriver{}, Plug{&kOrlaANSI}, Wait{500}, ExpectNoInstance{},
                ExpectGrabbed{false}, UinputAvailable{true}, Unplug{}, Plug{&kOrlaANSI}, ExpectInstance{0u}},
               tap(0x04), one(Expect{tapped(kb(0x04), KEY_A)})}},
        {"a key held across a table swap is released as it was pressed",
         Steps{kStartWithANSI,
               {SetTable{false, {{0x04, 0x05}}}, Press{0x04}, Expect{{{kb(0x05), KEY_B, 1}}},
                SetTable{false, {{0x04, 0x06}}}, Release{0x04}, Expect{{{kb(0x05), KEY_B, 0}}},
                Press{0x16}, Expect{{{kb(0x16), KEY_S, 1}}}, SetTable{false, {{0x16, 0}, {0x04, 0x06}}},
                Release{0x16}, Expect{{{kb(0x16), KEY_S, 0}}}},
               tap(0x04), one(Expect{tapped(kb(0x06), KEY_C)})}},
        {"the grab waits until no key is down",
         Steps{{Plug{&kOrlaANSI}, KeyboardRepeat{10000, 100}, Press{0x04}, StartDriver{},
                ExpectInstance{std::nullopt, false, false}, Wait{300},
                ExpectReader{{{kb(0x04), KEY_A, 1}}}, Release{0x04}, ExpectGrabbed{true}},
               tap(0x05), one(Expect{tapped(kb(0x05), KEY_B)})}},
        {"a keyboard held by another program is grabbed once it is let go",
         Steps{{Plug{&kOrlaANSI}, ReaderGrab{true}, StartDriver{}, ExpectInstance{std::nullopt, false, false},
                Wait{1500}, ReaderGrab{false}, ExpectGrabbed{true}},
               tap(0x05), one(Expect{tapped(kb(0x05), KEY_B)})}},
        // Another program holds the keyboard while a key is down: neither the
        // release nor the letting go reaches the driver, only its timer does.
        {"a key held while another program holds the keyboard does not keep the grab away",
         Steps{{Plug{&kOrlaANSI}, KeyboardRepeat{10000, 100}, ReaderGrab{true}, Press{0x04}, StartDriver{},
                ExpectInstance{std::nullopt, false, false}, Release{0x04}, ReaderGrab{false}, Wait{1500}},
               tap(0x05), one(Expect{tapped(kb(0x05), KEY_B)})}},
        {"LEDs set on the virtual keyboard reach the keyboard",
         Steps{kStartWithANSI,
               {SetLed{LED_CAPSL, true}, ExpectLedReport{0x02}, SetLed{LED_NUML, true}, ExpectLedReport{0x03},
                SetLed{LED_CAPSL, false}, ExpectLedReport{0x01}}}},
        // The virtual keyboard repeats every 100 ms, the keyboard itself every
        // 15 ms: about 10 repeats in the hold when only the virtual keyboard
        // repeats, about 75 if the keyboard's repeats passed through as well.
        {"autorepeat happens once",
         Steps{kStartWithANSI,
               {SetRepeat{250, 100, 250, 15}, Press{0x04}, Wait{1250}, Release{0x04},
                Expect{tapped(kb(0x04), KEY_A), KEY_A, 2, 25}}}},
        {"SIGTERM releases the grab and removes the virtual keyboard",
         Steps{kStartWithANSI, {StopDriver{}, ExpectGrabbed{false}}, tap(0x04),
               one(ExpectReader{tapped(kb(0x04), KEY_A)})}},
        {"a keyboard of another maker is left alone",
         Steps{{StartDriver{}, Plug{&kOtherKeyboard}, Wait{500}, ExpectNoInstance{}, ExpectGrabbed{false}}}},
        // The driver's first try fails; it tries again 1 s later.
        {"a keyboard that could not be attached is attached once uinput is back",
         Steps{{UinputAvailable{false}, StartDriver{}, Plug{&kOrlaANSI}, Wait{300}, ExpectNoInstance{},
                UinputAvailable{true}, ExpectInstance{0u}},
               tap(0x04), one(Expect{tapped(kb(0x04), KEY_A)})}},
        // Tries at 1 s and 3 s have failed; the next would come at 7 s.
        {"a waiting keyboard is attached at once when uinput's module is loaded",
         Steps{{UinputModule{false}, StartDriver{}, Plug{&kOrlaANSI}, Wait{3500}, ExpectNoInstance{},
                UinputModule{true}, ExpectInstance{0u, false, true, 1, 2000}},
               tap(0x04), one(Expect{tapped(kb(0x04), KEY_A)})}},
        {"udev's change event brings back a keyboard that could not be attached",
         Steps{{UinputAvailable{false}, StartDriver{}, Plug{&kOrlaANSI}, Wait{3500}, ExpectNoInstance{},
                UinputAvailable{true}, TriggerChange{}, ExpectInstance{0u, false, true, 1, 2000}},
               tap(0x04), one(Expect{tapped(kb(0x04), KEY_A)})}},
        // 0x31 and 0x32 both give KEY_BACKSLASH: the kernel sends the only
        // release under the scan of the key that came up first.
        {"two usages with one key code held together are released once",
         Steps{kStartWithANSI,
               {Press{0x31}, Press{0x32}, Release{0x32}, Release{0x31},
                Expect{tapped(kb(0x31), KEY_BACKSLASH)}, ExpectNoKeyDown{}},
               tap(0x32), one(Expect{tapped(kb(0x32), KEY_BACKSLASH)})}},
        {"keys held across a suspend are released and work again",
         Steps{kStartWithANSI,
               {SetTable{false, {{0x04, 0x05}}}, Press{0x04}, Press{0xE1},
                Expect{{{kb(0x05), KEY_B, 1}, {kb(0xE1), KEY_LEFTSHIFT, 1}}}, SuspendResume{}, Release{0x04},
                Release{0xE1}, ExpectNoKeyDown{}},
               tap(0x04), tap(0xE1), one(Expect{tapped(kb(0x05), KEY_B) + tapped(kb(0xE1), KEY_LEFTSHIFT)})}},
        // A is released while the driver cannot read; the keys typed after
        // it overflow the driver's queue, so the kernel drops A's release.
        {"keys released in events the kernel dropped are released",
         Steps{kStartWithANSI,
               {SetTable{false, {{0x04, 0x05}}}, Press{0x04}, Expect{{{kb(0x05), KEY_B, 1}}}, FreezeDriver{true},
                Release{0x04}},
               taps(0x06, 0x1D), one(FreezeDriver{false}), one(ExpectNoKeyDown{}), tap(0x04),
               one(Expect{tapped(kb(0x05), KEY_B)})}},
        {"losing the system bus ends the driver with a failure, keys and keyboard released",
         Steps{kStartWithANSI,
               {SetTable{false, {{0x04, 0x05}}}, Press{0x04}, Expect{{{kb(0x05), KEY_B, 1}}}, LoseBus{},
                ExpectCloneGone{{{kb(0x05), KEY_B, 0}}}, Release{0x04}, ExpectGrabbed{false}, StartDriver{},
                ExpectInstance{0u}},
               tap(0x04), one(Expect{tapped(kb(0x04), KEY_A)})}},
        {"random tables swapped under two keyboards' keys leave no key down",
         Steps{kStartWithANSI, one(RandomStorm{&kOrlaJIS, 10000, 20240613})}},
        {"unplug and plug with keys held, 100 times: one instance, no leak, no key down",
         Steps{kStartWithANSI, one(ReplugCycles{100, {0x04, 0x16, 0xE1}}), tap(0x04),
               one(Expect{tapped(kb(0x04), KEY_A)})}},
    };
}

std::vector<Scenario> usbScenarios() {
    return {
        {"USB keyboard: LocationID from bus and port, remap, unplug",
         Steps{{StartDriver{}, Plug{&kOrlaANSI, true}, ExpectInstance{0x01100000u},
                SetTable{false, {{0x04, 0x05}}}},
               tap(0x04), one(Expect{tapped(kb(0x05), KEY_B)}), {Unplug{}, ExpectNoInstance{}}}},
    };
}

// The driver as the installed unit runs it (systemd, the unit's sandbox,
// the bus policy in the system bus): a keyboard plugged in after the start
// is found, grabbed, cloned and remapped, and systemctl stop ends it cleanly.
std::vector<Scenario> unitScenarios() {
    return {
        {"the installed unit serves a hot-plugged keyboard and stops cleanly",
         Steps{{StartDriver{}, Plug{&kOrlaJIS}, ExpectInstance{0u}, ExpectAddedSignal{}}, tap(0x35),
               one(Expect{tapped(kb(0xE3), KEY_LEFTMETA)}),
               {SetTable{false, {{0x04, 0x05}}}, NobodyReadsButCannotSet{}}, tap(0x04),
               one(Expect{tapped(kb(0x05), KEY_B)}),
               {SetLed{LED_CAPSL, true}, ExpectLedReport{0x02}, StopDriver{}, ExpectGrabbed{false}}}},
        {"the unit comes back after the system bus was lost and remaps again",
         Steps{{StartDriver{}, Plug{&kOrlaJIS}, ExpectInstance{0u}, LoseBus{}, ExpectInstance{0u}}, tap(0x35),
               one(Expect{tapped(kb(0xE3), KEY_LEFTMETA)}), one(SetTable{false, {{0x04, 0x05}}}), tap(0x04),
               one(Expect{tapped(kb(0x05), KEY_B)}), {StopDriver{}, ExpectGrabbed{false}}}},
    };
}

// The set-up daemon from its unit, with the driver from its own: the console
// user's saved table reaches the keyboard at start, again after the file is
// saved anew and "Reconfigure" is sent, again when the keyboard is plugged
// in anew, again when the driver is restarted under the running daemon, and
// at once when the daemon starts with the keyboard already there.
std::vector<Scenario> daemonScenarios() {
    auto guest = std::make_shared<DaemonGuest>();
    auto run = [guest](std::string what, std::string (*action)(DaemonGuest&)) {
        return Run{std::move(what), [guest, action] { return action(*guest); }};
    };
    return {
        {"the daemon sets the console user's table at start, on Reconfigure, on re-plug and on restarts",
         Steps{{StartDriver{},
                run("alice at the console, A sends Escape",
                    [](DaemonGuest& g) {
                        const std::string e = g.consoleUser("alice", 1000);
                        return e.empty() ? g.save("alice", {{0x04, 0x29}}) : e;
                    }),
                run("start the daemon's unit", [](DaemonGuest& g) { return g.startDaemon(); }), Plug{&kOrlaANSI},
                ExpectInstance{0u}, ExpectSoon{{0x04}, tapped(kb(0x29), KEY_ESC)},
                run("A sends B, Reconfigure",
                    [](DaemonGuest& g) {
                        const std::string e = g.save("alice", {{0x04, 0x05}});
                        return e.empty() ? g.reconfigure() : e;
                    }),
                ExpectSoon{{0x04}, tapped(kb(0x05), KEY_B)}, Unplug{}, ExpectNoInstance{}, Plug{&kOrlaANSI},
                ExpectInstance{0u, true}, ExpectSoon{{0x04}, tapped(kb(0x05), KEY_B)},
                StopDriver{}, StartDriver{}, ExpectInstance{0u}, ExpectSoon{{0x04}, tapped(kb(0x05), KEY_B)},
                run("stop the daemon's unit", [](DaemonGuest& g) { return g.stopDaemon(); }),
                // Without the daemon a restarted driver has the default table...
                StopDriver{}, StartDriver{}, ExpectInstance{0u}, ExpectSoon{{0x04}, tapped(kb(0x04), KEY_A)},
                // ... until the daemon starts and sets the keyboards already there.
                run("start the daemon's unit again", [](DaemonGuest& g) { return g.startDaemon(); }),
                ExpectSoon{{0x04}, tapped(kb(0x05), KEY_B)},
                run("stop the daemon's unit", [](DaemonGuest& g) { return g.stopDaemon(); }), StopDriver{}}}},
    };
}

// Reconnection at the daemon's start, on USB keyboards (gadgets on the
// dummy buses; bus 1 port 1 is location 0x01100000): the daemon and the
// driver from their units, alice at the console with A sending Escape. A
// keyboard's instance goes while it stays plugged in when usbhid lets go
// of it. Whether a keyboard was re-enumerated shows on its interface,
// which the kernel makes anew.
class ReconnectSteps {
public:
    // An action on the scenario's own guests, which go when its steps do.
    Step act(std::string what, std::function<std::string(DaemonGuest&, ReconnectGuest&)> action) const {
        return Run{std::move(what), [daemon = daemon_, usb = usb_, action] { return action(*daemon, *usb); }};
    }
    Step atConsole() const {
        return act("alice at the console, A sends Escape", [](DaemonGuest& g, ReconnectGuest&) {
            const std::string e = g.consoleUser("alice", 1000);
            return e.empty() ? g.save("alice", {{0x04, 0x29}}) : e;
        });
    }
    Step startDaemon() const {
        return act("start the daemon's unit", [](DaemonGuest& g, ReconnectGuest&) { return g.startDaemon(); });
    }
    Step stopDaemon() const {
        return act("stop the daemon's unit", [](DaemonGuest& g, ReconnectGuest&) { return g.stopDaemon(); });
    }
    Step unbind(std::string device) const {
        return act("usbhid lets go of " + device,
                   [device](DaemonGuest&, ReconnectGuest& u) { return u.unbindInterface(device); });
    }
    Step watch(std::string device) const {
        return act("watch " + device, [device](DaemonGuest&, ReconnectGuest& u) { return u.watch(device); });
    }
    Step reEnumerated(std::string device, bool expected) const {
        return act(device + (expected ? " re-enumerated" : " left alone"),
                   [device, expected](DaemonGuest&, ReconnectGuest& u) {
                       return u.expectReEnumerated(device, expected);
                   });
    }

private:
    std::shared_ptr<DaemonGuest> daemon_ = std::make_shared<DaemonGuest>();
    std::shared_ptr<ReconnectGuest> usb_ = std::make_shared<ReconnectGuest>();
};

constexpr std::uint32_t kBus1 = 0x01100000, kBus2 = 0x02100000;

std::vector<Scenario> reconnectScenarios() {
    const std::vector<KeyOut> escape = tapped(kb(0x29), KEY_ESC);
    std::vector<Scenario> all;
    {
        // The driver runs on, although its unit file has gone.
        const ReconnectSteps r;
        all.push_back({"reconnection: without the driver's unit no keyboard is touched",
                       {StartDriver{}, Plug{&kOrlaANSI, true}, ExpectInstance{kBus1}, r.unbind("1-1"),
                        ExpectNoInstance{},
                        r.act("the driver's unit file removed",
                              [](DaemonGuest&, ReconnectGuest& u) { return u.hideDriverUnit(); }),
                        r.watch("1-1"),
                        r.act("the daemon's reconnection in this process: 0, nothing on the stack",
                              [](DaemonGuest&, ReconnectGuest& u) { return u.reconnecter(0, ""); }),
                        r.reEnumerated("1-1", false), StopDriver{}}});
    }
    {
        // The driver takes the keyboards present when it starts; until then
        // nothing would claim a re-enumerated one.
        const ReconnectSteps r;
        all.push_back({"reconnection: while the driver is not running no keyboard is touched",
                       {Plug{&kOrlaANSI, true}, r.watch("1-1"),
                        r.act("the daemon's reconnection in this process: 0, nothing on the stack",
                              [](DaemonGuest&, ReconnectGuest& u) { return u.reconnecter(0, ""); }),
                        r.reEnumerated("1-1", false)}});
    }
    {
        const ReconnectSteps r;
        all.push_back({"reconnection: a keyboard the USB policy switched off stays off",
                       {StartDriver{}, Plug{&kOrlaANSI, true}, ExpectInstance{kBus1},
                        r.act("1-1 switched off", [](DaemonGuest&, ReconnectGuest& u) { return u.switchOff("1-1"); }),
                        ExpectNoInstance{},
                        r.act("the daemon's reconnection in this process: refused, EPERM on the stack",
                              [](DaemonGuest&, ReconnectGuest& u) {
                                  return u.reconnecter(kSetUpperErrReEnumerate, std::to_string(-EPERM));
                              }),
                        r.act("1-1 still off",
                              [](DaemonGuest&, ReconnectGuest& u) { return u.expectAuthorized("1-1", false); }),
                        StopDriver{}}});
    }
    {
        // The driver takes the keyboards that are there when it starts.
        const ReconnectSteps r;
        all.push_back({"reconnection: the driver started after the keyboard serves it, which is left alone",
                       {Plug{&kOrlaANSI, true}, StartDriver{}, ExpectInstance{kBus1}, r.watch("1-1"), r.atConsole(),
                        r.startDaemon(), r.reEnumerated("1-1", false), ExpectSoon{{0x04}, escape},
                        r.stopDaemon(), StopDriver{}}});
    }
    {
        const ReconnectSteps r;
        all.push_back({"reconnection: a keyboard without an instance comes back, claimed and with the user's table",
                       {StartDriver{}, Plug{&kOrlaANSI, true}, ExpectInstance{kBus1}, r.unbind("1-1"),
                        ExpectNoInstance{}, r.watch("1-1"), r.atConsole(), r.startDaemon(),
                        r.reEnumerated("1-1", true),
                        r.act("the daemon's sandbox: USB devices writable, processors and virtual devices not",
                              [](DaemonGuest& g, ReconnectGuest&) {
                                  std::string e = g.expectDaemonMayWrite("/sys/bus/usb/devices/1-1/authorized", true);
                                  for (const char* path : {"/sys/devices/system", "/sys/devices/virtual", "/sys/kernel"})
                                      if (e.empty()) e = g.expectDaemonMayWrite(path, false);
                                  return e;
                              }),
                        ReopenKeyboard{}, ExpectInstance{kBus1, true},
                        ExpectSoon{{0x04}, escape}, r.stopDaemon(), StopDriver{}}});
    }
    {
        const ReconnectSteps r;
        all.push_back({"reconnection: a keyboard whose device class is not 0 is left alone",
                       {StartDriver{}, Plug{&kOrlaANSI, true, {0, 0xEF}}, ExpectInstance{kBus1}, r.unbind("1-1"),
                        ExpectNoInstance{}, r.watch("1-1"), r.startDaemon(), r.reEnumerated("1-1", false),
                        r.stopDaemon(), StopDriver{}}});
    }
    {
        // Devices are taken in the order of their sysfs paths: bus 1 first.
        const ReconnectSteps r;
        all.push_back({"reconnection: of two keyboards the first fails, the second comes back, the result is 0",
                       Steps{{StartDriver{},
                              r.act("plug in the ANSI keyboard on bus 1",
                                    [](DaemonGuest&, ReconnectGuest& u) {
                                        const std::string e = u.plug(kOrlaANSI, {0});
                                        return e.empty() ? u.waitForInstances(kBus1, 1) : e;
                                    }),
                              Plug{&kOrlaJIS, true, {1}}, ExpectInstance{kBus2}, r.unbind("1-1"), r.unbind("2-1"),
                              r.act("no instance on bus 1",
                                    [](DaemonGuest&, ReconnectGuest& u) { return u.waitForInstances(kBus1, 0); }),
                              ExpectNoInstance{},
                              r.act("1-1's authorized attribute read-only",
                                    [](DaemonGuest&, ReconnectGuest& u) { return u.lockAuthorization("1-1"); }),
                              r.watch("1-1"), r.watch("2-1"),
                              r.act("the daemon's reconnection in this process: 0, EROFS on the stack",
                                    [](DaemonGuest&, ReconnectGuest& u) {
                                        return u.reconnecter(0, std::to_string(-EROFS));
                                    }),
                              r.reEnumerated("1-1", false), r.reEnumerated("2-1", true), ReopenKeyboard{},
                              ExpectInstance{kBus2, true}},
                             tap(0x35), one(Expect{tapped(kb(0xE3), KEY_LEFTMETA)}), one(StopDriver{})}});
    }
    return all;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string group = argc > 1 ? argv[1] : "";
    // An optional word picks the scenarios whose names hold it.
    const std::string only = argc > 2 ? argv[2] : "";
    const auto run = [&](std::vector<Scenario> scenarios, const std::string& unit = "") {
        std::erase_if(scenarios, [&](const Scenario& s) { return s.name.find(only) == std::string::npos; });
        return runScenarios(std::move(scenarios), unit) == 0 ? 0 : 1;
    };
    setvbuf(stdout, nullptr, _IOLBF, 0);
    if (group == "driver") return run(driverScenarios());
    if (group == "usb") {
        // One boot for every USB keyboard: the driver as a child process,
        // then the reconnection with the driver and the daemon as units.
        const int failed = run(usbScenarios());
        return failed + run(reconnectScenarios(), vexa::driverbus::kServiceUnit) > 0 ? 1 : 0;
    }
    if (group == "unit") return run(unitScenarios(), "mirlan.driver.VexaOrla.service");
    if (group == "hidtable") return checkHidTableAgainstKernel() ? 0 : 1;
    if (group == "daemon") return run(daemonScenarios(), "mirlan.driver.VexaOrla.service");
    std::fprintf(stderr, "usage: %s driver|usb|hidtable|unit|daemon [word in the scenario names]\n", argv[0]);
    return 2;
}
