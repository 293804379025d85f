// Guest scenarios as data: a keyboard, then steps (key actions on the test
// keyboard, driver and bus actions, and the events expected on the
// driver's virtual keyboard or on a plain reader of the keyboard's own
// node). One runner executes them against the real driver process.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "tests/vm/test_keyboard.h"

namespace vexa::guest {

// One key event as a reader sees it: the scan (page << 16 | usage) sent
// with it, the Linux key code and the value (1 press, 0 release).
struct KeyOut {
    std::uint32_t scan;
    std::uint16_t code;
    std::int32_t value;
    friend bool operator==(const KeyOut&, const KeyOut&) = default;
};

namespace step {
struct StartDriver {};
// SIGTERM; the driver must exit with status 0, its virtual keyboards gone.
struct StopDriver {};
struct Plug {
    const KeyboardDescription* keyboard;
    bool usbGadget = false;
    GadgetOptions gadget = {};
};
struct Unplug {};
// The keyboard's node was made anew while it stayed plugged in (its USB
// device re-enumerated): the plain reader opens the new node.
struct ReopenKeyboard {};
// A second interface of the plugged keyboard (its own HID device with the
// same vendor and product, e.g. its media keys), and its removal.
struct PlugInterface { const KeyboardDescription* keyboard; };
struct UnplugInterface {};
struct Press { std::uint8_t usage; };
struct Release { std::uint8_t usage; };
// Waits for exactly `count` driver instances with the plugged keyboard's
// vendor and product (one per node with keys: never one for the driver's
// own virtual keyboards); checks the Class and, if given, the LocationID of
// the keyboard node's instance; `fresh` requires an object other than the
// last one seen. `grabbed` waits until the driver holds the keyboard.
struct ExpectInstance {
    std::optional<std::uint32_t> location;
    bool fresh = false;
    bool grabbed = true;
    std::size_t count = 1;
    // How long the instance may take to appear.
    int withinMs = 5000;
};
// The object manager sent InterfacesAdded / InterfacesRemoved for the
// keyboard node's instance.
struct ExpectAddedSignal {};
struct ExpectRemovedSignal {};
struct ExpectNoInstance {};
// Key events on the driver's virtual keyboard since the last expectation.
// Autorepeats are left out unless `countRepeatsOf` names a key code, whose
// repeats are then counted and must lie in [minRepeats, maxRepeats].
struct Expect {
    std::vector<KeyOut> events;
    std::uint16_t countRepeatsOf = 0;
    int minRepeats = 0, maxRepeats = 0;
};
// Key events that a plain (not grabbing) reader of the keyboard's node saw.
struct ExpectReader { std::vector<KeyOut> events; };
// Taps consumer usages on the second interface; the key events its virtual
// keyboard sends for them.
struct ExpectInterfaceKeys {
    std::vector<std::uint8_t> usages;
    std::vector<KeyOut> events;
};
// After an unplug: the key events the virtual keyboard sends before it goes
// away (autorepeats left out). It must go within 5 s.
struct ExpectCloneGone { std::vector<KeyOut> events; };
// Whether keys go to the driver (grabbed) or to everyone.
struct ExpectGrabbed { bool grabbed; };
// SetProperties with a table: the type's default with some entries changed,
// `length` bytes long (padded with identity or cut).
struct SetTable {
    bool jisBase = false;
    std::vector<std::pair<int, int>> entries;
    std::size_t length = 256;
    std::int32_t status = 0;
};
// An unprivileged user may list the instances and read their properties,
// but the bus refuses SetProperties to it.
struct NobodyReadsButCannotSet {};
// /dev/uinput is there or not (renamed away); restored after the scenario.
struct UinputAvailable { bool available; };
// The system sets an LED on the virtual keyboard; the real one must follow.
struct SetLed { std::uint16_t led; bool on; };
struct ExpectLedReport { int report; };
// Autorepeat of the virtual keyboard and of the keyboard itself (EVIOCSREP).
struct SetRepeat { int cloneDelayMs, clonePeriodMs, keyboardDelayMs, keyboardPeriodMs; };
struct Wait { int ms; };
// Another program (the plain reader) takes or gives up the keyboard.
struct ReaderGrab { bool on; };
// An action outside the runner (another unit, a user's files, a bus
// signal); it returns "" or what went wrong.
struct Run {
    std::string what;
    std::function<std::string()> action;
};
// For a change that another process makes: taps the keys again until the
// virtual keyboard sends `events` for them (at most `timeoutMs`).
struct ExpectSoon {
    std::vector<std::uint8_t> taps;
    std::vector<KeyOut> events;
    int timeoutMs = 10000;
};
// Autorepeat of the keyboard alone (EVIOCSREP on its node). A key held
// while nobody reads fills a reader's queue with repeats (64 events, about
// 1.2 s at the kernel's default rate), and the kernel then drops the queue.
struct KeyboardRepeat { int delayMs, periodMs; };
// uinput's module is loaded or not (unloaded, as before a late load);
// loaded again after the scenario.
struct UinputModule { bool loaded; };
// udev's "change" for the keyboard's node (udevadm trigger).
struct TriggerChange {};
// Every device is suspended and resumed: the kernel releases every held
// key without a scan code.
struct SuspendResume {};
// The driver (a child process) is stopped (SIGSTOP) or goes on (SIGCONT).
// Keys typed meanwhile overflow its queue on the keyboard's node, and the
// kernel drops events (SYN_DROPPED).
struct FreezeDriver { bool frozen; };
// After the last action: no key is down on the virtual keyboard (EVIOCGKEY).
struct ExpectNoKeyDown {};
// The system bus daemon dies. The driver must end with a failure status,
// its virtual keyboard gone; as a unit, systemd must start it again. The
// bus is back afterwards (a child driver is not restarted: StartDriver).
struct LoseBus {};
// `swaps` random tables set on the instances of two keyboards at once (the
// plugged one and `second`), each followed by a random press or release of
// a random key on either keyboard; then every key is released. Neither
// virtual keyboard may hold more keys than its keyboard does at the checks
// in between, and none may hold a key at the end. Prints the count of
// checked events.
struct RandomStorm {
    const KeyboardDescription* second;
    int swaps;
    std::uint32_t seed;
};
// `cycles` times: press `held` on the plugged keyboard once its instance
// is there, unplug it and plug it in again. Then exactly one instance and
// one virtual keyboard remain, the driver's descriptors are back to their
// count before the first cycle, and no key is down.
struct ReplugCycles {
    int cycles;
    std::vector<std::uint8_t> held;
};
}  // namespace step

using Step = std::variant<step::StartDriver, step::StopDriver, step::Plug, step::Unplug, step::PlugInterface,
                          step::UnplugInterface, step::Press, step::Release, step::ExpectInstance,
                          step::ExpectAddedSignal, step::ExpectRemovedSignal, step::ExpectNoInstance, step::Expect,
                          step::ExpectReader, step::ExpectInterfaceKeys, step::ExpectCloneGone, step::ExpectGrabbed,
                          step::SetTable, step::NobodyReadsButCannotSet, step::UinputAvailable, step::SetLed,
                          step::ExpectLedReport, step::SetRepeat, step::Wait, step::ReaderGrab, step::Run,
                          step::ExpectSoon, step::UinputModule, step::TriggerChange, step::SuspendResume,
                          step::ExpectNoKeyDown, step::LoseBus, step::RandomStorm, step::ReplugCycles,
                          step::KeyboardRepeat, step::ReopenKeyboard, step::FreezeDriver>;

struct Scenario {
    std::string name;
    std::vector<Step> steps;
};

// Runs each scenario (a fresh driver and keyboard each time); prints one
// line per scenario and the summary. Returns the number of failures. With a
// unit name the driver is that systemd unit, otherwise a child process.
// A scenario's steps are dropped as soon as it has run, so whatever its
// actions hold (a daemon, a mount) is undone before the next one starts.
int runScenarios(std::vector<Scenario> scenarios, const std::string& unit = "");

}  // namespace vexa::guest
