#include "tests/vm/scenario.h"

#include <unistd.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstring>
#include <cstdio>
#include <random>
#include <set>
#include <sstream>
#include <thread>
#include <utility>

#include "driver/bus_names.h"
#include "platform/input/hid_keycodes.h"
#include "keymap/keymap.h"
#include "tests/vm/driver_client.h"
#include "tests/vm/evdev_node.h"
#include "tests/vm/guest_machine.h"

namespace vexa::guest {

namespace {

// Pressed and released after an action: everything a reader saw before the
// sentinel came back belongs to the action. F24 is the same key in every
// table the scenarios use.
constexpr std::uint8_t kSentinelUsage = 0x73;
constexpr std::uint16_t kSentinelKey = KEY_F24;
// The sentinel of the second (consumer) interface: Play/Pause.
constexpr std::uint8_t kInterfaceSentinelUsage = 0xCD;
constexpr std::uint16_t kInterfaceSentinelKey = KEY_PLAYPAUSE;
// Print Screen is KEY_SYSRQ: with Alt, the kernel's SysRq handler takes the
// keys that follow.
constexpr std::uint8_t kSysRqUsage = 0x46;
constexpr char kUinputPath[] = "/dev/uinput";
constexpr char kUinputAwayPath[] = "/dev/uinput.away";

std::string describe(const std::vector<KeyOut>& events) {
    std::ostringstream os;
    os << "[";
    for (const KeyOut& e : events) os << " " << std::hex << "0x" << e.scan << std::dec << "/" << e.code << "=" << e.value;
    os << " ]";
    return os.str();
}

struct Failure {
    std::string what;
};

class Runner {
public:
    explicit Runner(const std::string& unit) : driver_(unit) {}

    void run(const Scenario& s) {
        for (std::size_t i = 0; i < s.steps.size(); ++i) {
            stepIndex_ = i;
            std::visit([this](const auto& st) { exec(st); }, s.steps[i]);
        }
    }
    std::size_t stepIndex() const { return stepIndex_; }

    ~Runner() {
        if (frozen_) kill(driver_.pid(), SIGCONT);
        if (keyboard_) keyboard_->releaseAll();
        if (driver_.running()) driver_.stop();
        if (access(kUinputAwayPath, F_OK) == 0) rename(kUinputAwayPath, kUinputPath);
        std::string error;
        if (!setUinputModuleLoaded(true, &error)) std::fprintf(stderr, "%s\n", error.c_str());
    }

private:
    [[noreturn]] void fail(const std::string& what) { throw Failure{what}; }
    void check(bool ok, const std::string& what) {
        if (!ok) fail(what);
    }

    void pump() {
        if (keyboard_) keyboard_->pump(0);
        if (interface_) interface_->pump(0);
    }

    // Reads `node` until the sentinel's release; the key events before it.
    std::optional<std::vector<KeyOut>> roundTrip(EvdevNode& node, EvdevNode* other, int timeoutMs,
                                                 std::vector<input_event>* raw = nullptr) {
        return roundTrip(*keyboard_, kSentinelUsage, kSentinelKey, node, other, timeoutMs, raw);
    }
    std::optional<std::vector<KeyOut>> roundTrip(TestKeyboard& keyboard, std::uint8_t sentinelUsage,
                                                 std::uint16_t sentinelKey, EvdevNode& node, EvdevNode* other,
                                                 int timeoutMs, std::vector<input_event>* raw = nullptr) {
        if (other) other->drain();
        check(keyboard.press(sentinelUsage) && keyboard.release(sentinelUsage), "cannot send the sentinel key");
        std::vector<KeyOut> events;
        std::uint32_t scan = 0;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < end) {
            pump();
            auto ev = node.next(20);
            if (!ev) continue;
            if (raw) raw->push_back(*ev);
            if (ev->type == EV_MSC && ev->code == MSC_SCAN) scan = static_cast<std::uint32_t>(ev->value);
            if (ev->type != EV_KEY) continue;
            if (ev->code == sentinelKey) {
                if (ev->value == 0) return events;
                continue;
            }
            events.push_back({scan, ev->code, ev->value});
            scan = 0;
        }
        return std::nullopt;
    }

    std::vector<std::uint8_t> table(const step::SetTable& s) {
        std::vector<std::uint8_t> t(256);
        if (s.jisBase) KZ714defaultOrlaJISKeymap(t.data());
        else KZ714defaultOrlaANSIKeymap(t.data());
        for (auto [index, value] : s.entries) t[static_cast<std::size_t>(index)] = static_cast<std::uint8_t>(value);
        t.resize(s.length, 0x04);
        return t;
    }

    // Opens the keyboard's own node or the driver's virtual keyboard of it,
    // waiting up to 5 s for it to appear.
    void openNode(const TestKeyboard& keyboard, NodeKind kind, EvdevNode& node) {
        const auto& d = keyboard.description;
        const std::string name = keyboard.inputName();
        const char* what = kind == NodeKind::Keyboard ? "evdev node" : "virtual keyboard";
        const std::string devnode = waitForEventNode(d.vendor, d.product, kind, 5000, [this] { pump(); }, name);
        check(!devnode.empty(), std::string("no ") + what + " appeared for \"" + name + "\"");
        check(node.open(devnode), std::string("cannot open the ") + what + " " + devnode);
    }

    // The plugged node's device name ("event5"), which its instance's object path carries.
    std::string readerSysname() const {
        const std::string& node = reader_.devnode();
        return node.substr(node.rfind('/') + 1);
    }

    void exec(const step::StartDriver&) { check(driver_.start(), "the driver did not take its bus name"); }

    void exec(const step::StopDriver&) {
        const int status = driver_.stop();
        check(status == 0, "the driver exited with status " + std::to_string(status) + " on SIGTERM");
        clone_.close();
        interfaceClone_.close();
        if (keyboard_) {
            const auto& d = keyboard_->description;
            const auto left = findEventNodes(d.vendor, d.product, NodeKind::VirtualClone);
            check(left.empty(), "a virtual keyboard is left after the stop: " + (left.empty() ? "" : left.front()));
        }
    }

    void exec(const step::Plug& p) {
        keyboard_ = p.usbGadget ? plugGadgetKeyboard(*p.keyboard, p.gadget) : plugUhidKeyboard(*p.keyboard);
        check(keyboard_ != nullptr, "cannot create the test keyboard");
        openNode(*keyboard_, NodeKind::Keyboard, reader_);
    }

    // The virtual keyboard stays open: ExpectCloneGone reads it to its end.
    void exec(const step::Unplug&) {
        keyboard_.reset();
        reader_.close();
    }

    void exec(const step::ReopenKeyboard&) {
        reader_.close();
        openNode(*keyboard_, NodeKind::Keyboard, reader_);
    }

    void exec(const step::PlugInterface& p) {
        interface_ = plugUhidKeyboard(*p.keyboard);
        check(interface_ != nullptr, "cannot create the second interface");
        EvdevNode node;
        openNode(*interface_, NodeKind::Keyboard, node);
    }

    void exec(const step::UnplugInterface&) {
        interface_.reset();
        interfaceClone_.close();
    }

    void exec(const step::Press& p) {
        check(keyboard_->press(p.usage), "press failed");
        // The kernel drops reports that arrive while it still probes a new
        // device (its node may already be there): send the key state again
        // until the device holds the key down.
        // The state is read on a node of its own: EVIOCGKEY drops the
        // reader's queued key events.
        const auto key = reportedKeyFromUsage({kUsagePageKeyboard, p.usage});
        if (!key || !reader_.isOpen()) return;
        EvdevNode state;
        check(state.open(reader_.devnode()), "cannot open " + reader_.devnode());
        for (int i = 0; i < 100 && !state.keyDown(*key); ++i) {
            pump();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            check(keyboard_->press(p.usage), "press failed");
        }
        check(state.keyDown(*key), "the keyboard never reported the key down");
    }
    void exec(const step::Release& r) { check(keyboard_->release(r.usage), "release failed"); }

    std::vector<InstanceInfo> instancesOfKeyboard() { return instancesOf(keyboard_->description); }
    std::vector<InstanceInfo> instancesOf(const KeyboardDescription& d) {
        std::vector<InstanceInfo> mine;
        for (auto& i : bus_.instances()) {
            if (i.vendor == d.vendor && i.product == d.product) mine.push_back(i);
        }
        return mine;
    }

    void exec(const step::ExpectInstance& e) {
        std::vector<InstanceInfo> found;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(e.withinMs);
        while ((found = instancesOfKeyboard()).size() != e.count && std::chrono::steady_clock::now() < end) {
            pump();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        check(found.size() == e.count, "expected " + std::to_string(e.count) + " driver instance(s), found " +
                                           std::to_string(found.size()));
        for (const InstanceInfo& other : found)
            check(other.cls == driverbus::kDriverClass, "Class is \"" + other.cls + "\"");
        const std::string mark = "/" + readerSysname() + "_";
        auto mine = std::find_if(found.begin(), found.end(),
                                 [&](const InstanceInfo& i) { return i.path.find(mark) != std::string::npos; });
        check(mine != found.end(), "no instance object for " + reader_.devnode());
        const InstanceInfo& i = *mine;
        if (e.location) {
            char buf[64];
            std::snprintf(buf, sizeof buf, "LocationID 0x%08x, expected 0x%08x", i.location, *e.location);
            check(i.location == *e.location, buf);
        }
        if (e.fresh) check(i.path != lastPath_, "the instance object was not replaced: " + i.path);
        lastPath_ = i.path;
        openNode(*keyboard_, NodeKind::VirtualClone, clone_);
        if (interface_) openNode(*interface_, NodeKind::VirtualClone, interfaceClone_);
        if (e.grabbed) exec(step::ExpectGrabbed{true});
    }

    void expectSignal(const char* member) {
        const ManagerSignal wanted{member, lastPath_};
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        for (;;) {
            const auto& got = bus_.managerSignals();
            if (std::find(got.begin(), got.end(), wanted) != got.end()) return;
            check(std::chrono::steady_clock::now() < end, std::string("no ") + member + " for " + lastPath_);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    void exec(const step::ExpectAddedSignal&) { expectSignal("InterfacesAdded"); }
    void exec(const step::ExpectRemovedSignal&) { expectSignal("InterfacesRemoved"); }

    void exec(const step::ExpectNoInstance&) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        std::size_t n = 0;
        while ((n = (keyboard_ ? instancesOfKeyboard().size() : bus_.instances().size())) != 0 &&
               std::chrono::steady_clock::now() < end) {
            pump();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        check(n == 0, "driver instances remain: " + std::to_string(n));
    }

    void exec(const step::Expect& e) {
        check(clone_.isOpen(), "no virtual keyboard to read");
        std::vector<input_event> raw;
        auto events = roundTrip(clone_, &reader_, 5000, &raw);
        check(events.has_value(), "the sentinel key did not reach the virtual keyboard");
        std::vector<KeyOut> keys;
        int repeats = 0;
        for (const KeyOut& k : *events) {
            if (k.value == 2) {
                if (k.code == e.countRepeatsOf) ++repeats;
                continue;
            }
            keys.push_back(k);
        }
        check(keys == e.events, "virtual keyboard got " + describe(keys) + ", expected " + describe(e.events));
        if (e.countRepeatsOf) {
            check(repeats >= e.minRepeats && repeats <= e.maxRepeats,
                  std::to_string(repeats) + " autorepeats, expected " + std::to_string(e.minRepeats) + ".." +
                      std::to_string(e.maxRepeats));
        }
    }

    static std::vector<KeyOut> withoutRepeats(const std::vector<KeyOut>& events) {
        std::vector<KeyOut> keys;
        for (const KeyOut& k : events) {
            if (k.value != 2) keys.push_back(k);
        }
        return keys;
    }

    void exec(const step::ExpectInterfaceKeys& e) {
        check(interface_ && interfaceClone_.isOpen(), "no second interface with a virtual keyboard");
        for (std::uint8_t usage : e.usages) {
            check(interface_->press(usage) && interface_->release(usage), "cannot send a key on the second interface");
        }
        auto events = roundTrip(*interface_, kInterfaceSentinelUsage, kInterfaceSentinelKey, interfaceClone_, nullptr,
                                5000);
        check(events.has_value(), "the sentinel key did not reach the second interface's virtual keyboard");
        const auto keys = withoutRepeats(*events);
        check(keys == e.events, "second interface's virtual keyboard got " + describe(keys) + ", expected " +
                                    describe(e.events));
    }

    void exec(const step::ExpectCloneGone& e) {
        check(clone_.isOpen(), "no virtual keyboard to read");
        std::vector<KeyOut> events = std::exchange(cloneTail_, {});
        std::uint32_t scan = std::exchange(cloneTailScan_, 0);
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!clone_.lost() && std::chrono::steady_clock::now() < end) {
            auto ev = clone_.next(20);
            if (!ev) continue;
            if (ev->type == EV_MSC && ev->code == MSC_SCAN) scan = static_cast<std::uint32_t>(ev->value);
            if (ev->type != EV_KEY) continue;
            events.push_back({scan, ev->code, ev->value});
            scan = 0;
        }
        check(clone_.lost(), "the virtual keyboard is still there 5 s after the unplug");
        clone_.close();
        const auto keys = withoutRepeats(events);
        check(keys == e.events, "virtual keyboard sent " + describe(keys) + " before it went, expected " +
                                    describe(e.events));
    }

    void exec(const step::ExpectReader& e) {
        auto events = roundTrip(reader_, clone_.isOpen() ? &clone_ : nullptr, 3000);
        check(events.has_value(), "the sentinel key did not reach the plain reader");
        const auto keys = withoutRepeats(*events);
        check(keys == e.events, "plain reader got " + describe(keys) + ", expected " + describe(e.events));
    }

    void exec(const step::ExpectGrabbed& e) {
        if (e.grabbed) {
            check(clone_.isOpen(), "no virtual keyboard to read");
            // The grab may still be waiting for a key: try a few times.
            for (int attempt = 0; attempt < 10; ++attempt) {
                if (roundTrip(clone_, &reader_, 500)) {
                    reader_.drain();
                    return;
                }
            }
            fail("the driver did not grab the keyboard");
        }
        check(roundTrip(reader_, nullptr, 3000).has_value(), "the keyboard's keys do not reach a plain reader");
        if (clone_.isOpen()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            while (auto ev = clone_.next(0)) {
                check(!(ev->type == EV_KEY && ev->code == kSentinelKey), "keys reach the virtual keyboard too");
            }
        }
    }

    void exec(const step::SetTable& s) {
        std::string error;
        const std::int32_t status = bus_.setKeymap(lastPath_, table(s), &error);
        check(status != INT32_MIN, "SetProperties failed: " + error);
        check(status == s.status, "SetProperties returned " + std::to_string(status) + ", expected " +
                                      std::to_string(s.status));
    }

    void exec(const step::NobodyReadsButCannotSet&) {
        const pid_t pid = fork();
        if (pid == 0) {
            if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
            DriverBus bus;
            std::string error;
            const auto list = bus.instances();
            const bool listed = std::any_of(list.begin(), list.end(), [&](const InstanceInfo& i) {
                return i.path == lastPath_ && i.cls == driverbus::kDriverClass;
            });
            const std::string cls = bus.getClass(lastPath_, &error);
            if (!listed || cls != driverbus::kDriverClass) {
                std::fprintf(stderr, "as nobody: instance %slisted, Class \"%s\" (%s)\n", listed ? "" : "not ",
                             cls.c_str(), error.c_str());
                _exit(1);
            }
            const std::int32_t status = bus.setKeymap(lastPath_, table({}), &error);
            if (status == INT32_MIN && error == "org.freedesktop.DBus.Error.AccessDenied") _exit(0);
            std::fprintf(stderr, "as nobody: SetProperties status %d, error \"%s\"\n", status, error.c_str());
            _exit(1);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        check(WIFEXITED(status) && WEXITSTATUS(status) == 0,
              "an unprivileged user could not read the instance, or could set its table");
    }

    void exec(const step::UinputAvailable& u) {
        const int r = u.available ? rename(kUinputAwayPath, kUinputPath) : rename(kUinputPath, kUinputAwayPath);
        check(r == 0, std::string("cannot move /dev/uinput: ") + std::strerror(errno));
    }

    void exec(const step::SetLed& s) {
        check(clone_.write(EV_LED, s.led, s.on ? 1 : 0), "cannot write the LED to the virtual keyboard");
    }

    void exec(const step::ExpectLedReport& e) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while (keyboard_->ledReport() != e.report && std::chrono::steady_clock::now() < end) keyboard_->pump(20);
        check(keyboard_->ledReport() == e.report,
              "keyboard LED report " + std::to_string(keyboard_->ledReport()) + ", expected " + std::to_string(e.report));
    }

    void exec(const step::SetRepeat& s) {
        check(clone_.setRepeat(s.cloneDelayMs, s.clonePeriodMs), "cannot set the virtual keyboard's autorepeat");
        check(reader_.setRepeat(s.keyboardDelayMs, s.keyboardPeriodMs), "cannot set the keyboard's autorepeat");
    }

    void exec(const step::Run& r) {
        const std::string error = r.action();
        check(error.empty(), r.what + ": " + error);
    }

    void exec(const step::ExpectSoon& e) {
        check(clone_.isOpen(), "no virtual keyboard to read");
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(e.timeoutMs);
        for (;;) {
            for (std::uint8_t usage : e.taps) check(keyboard_->press(usage) && keyboard_->release(usage), "tap failed");
            auto events = roundTrip(clone_, &reader_, 5000);
            check(events.has_value(), "the sentinel key did not reach the virtual keyboard");
            const auto keys = withoutRepeats(*events);
            if (keys == e.events) return;
            check(std::chrono::steady_clock::now() < end,
                  "virtual keyboard still sends " + describe(keys) + ", expected " + describe(e.events));
            exec(step::Wait{50});
        }
    }

    void exec(const step::ReaderGrab& g) { check(reader_.grab(g.on), "the plain reader cannot change its grab"); }

    void exec(const step::Wait& w) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(w.ms);
        while (std::chrono::steady_clock::now() < end) {
            if (keyboard_) keyboard_->pump(10);
            else std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    void exec(const step::KeyboardRepeat& r) {
        check(reader_.setRepeat(r.delayMs, r.periodMs), "cannot set the keyboard's autorepeat");
    }

    void exec(const step::UinputModule& u) {
        std::string error;
        check(setUinputModuleLoaded(u.loaded, &error), error);
    }

    void exec(const step::TriggerChange&) {
        check(reader_.isOpen() && triggerChange(reader_.devnode()), "cannot trigger \"change\" for the keyboard");
    }

    void exec(const step::SuspendResume&) {
        std::string error;
        check(suspendAndResume(&error), "suspend and resume failed: " + error);
    }

    void exec(const step::FreezeDriver& f) {
        check(driver_.running() && !driver_.isUnit(), "no driver process to stop or continue");
        check(kill(driver_.pid(), f.frozen ? SIGSTOP : SIGCONT) == 0, std::string("cannot signal the driver: ") +
                                                                         std::strerror(errno));
        frozen_ = f.frozen;
    }

    // Whether a node holds any key down now (EVIOCGKEY on a node of its
    // own, since the ioctl drops the reader's queued key events).
    static std::string keysDown(const EvdevNode& node) {
        EvdevNode state;
        if (!state.open(node.devnode())) return "(cannot open " + node.devnode() + ")";
        std::string down;
        for (unsigned code = 1; code < KEY_CNT; ++code) {
            if (state.keyDown(static_cast<std::uint16_t>(code))) down += " " + std::to_string(code);
        }
        return down;
    }

    void exec(const step::ExpectNoKeyDown&) {
        check(clone_.isOpen(), "no virtual keyboard to read");
        check(roundTrip(clone_, &reader_, 5000).has_value(), "the sentinel key did not reach the virtual keyboard");
        const std::string down = keysDown(clone_);
        check(down.empty(), "keys left down on the virtual keyboard:" + down);
    }

    void readCloneTail(int timeoutMs) {
        if (!clone_.isOpen()) return;
        while (auto ev = clone_.next(timeoutMs)) {
            if (ev->type == EV_MSC && ev->code == MSC_SCAN) cloneTailScan_ = static_cast<std::uint32_t>(ev->value);
            if (ev->type != EV_KEY) continue;
            cloneTail_.push_back({cloneTailScan_, ev->code, ev->value});
            cloneTailScan_ = 0;
            timeoutMs = 0;
        }
    }

    void exec(const step::LoseBus&) {
        const bool unit = driver_.isUnit();
        const int restartsBefore = unit ? driver_.restarts() : 0;
        const pid_t bus = systemBusPid(unit);
        check(bus > 0 && kill(bus, SIGKILL) == 0, "cannot kill the system bus daemon");
        if (unit) {
            check(driver_.waitRestarted(20000), "the driver unit was not started again after the bus came back");
            check(driver_.restarts() > restartsBefore, "systemd did not count a restart of the driver");
        } else {
            // The virtual keyboard's last events must be read before it
            // goes: once it is gone, the kernel keeps them from its readers.
            const int status = driver_.waitExit(5000, [this] { readCloneTail(10); });
            readCloneTail(0);
            check(status != -1, "the driver still runs 5 s after losing the system bus");
            check(status != 0, "the driver exited with status 0 after losing the system bus");
            check(startSystemBus(), "cannot start the system bus again");
        }
        bus_.reconnect();
        lastPath_.clear();  // a new driver process numbers its objects anew
    }

    // Reads whatever a virtual keyboard has sent and keeps its key state:
    // presses and releases seen, keys down now.
    struct CloneTally {
        std::set<std::uint16_t> down;
        long presses = 0, releases = 0;
        void add(std::uint16_t code, std::int32_t value) {
            if (value == 1) {
                down.insert(code);
                ++presses;
            } else if (value == 0) {
                down.erase(code);
                ++releases;
            }
        }
        void read(EvdevNode& clone) {
            while (auto ev = clone.next(0)) {
                if (ev->type == EV_KEY) add(ev->code, ev->value);
            }
        }
    };

    void exec(const step::RandomStorm& s) {
        auto second = plugUhidKeyboard(*s.second);
        check(second != nullptr, "cannot create the second keyboard");
        EvdevNode secondClone;
        openNode(*second, NodeKind::VirtualClone, secondClone);
        std::vector<InstanceInfo> secondInstances;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while ((secondInstances = instancesOf(*s.second)).size() != 1 && std::chrono::steady_clock::now() < end) {
            second->pump(20);
        }
        check(secondInstances.size() == 1, "the second keyboard has no instance");
        check(roundTrip(*second, kSentinelUsage, kSentinelKey, secondClone, nullptr, 5000).has_value(),
              "the second keyboard's keys do not reach its virtual keyboard");

        struct Side {
            TestKeyboard* keyboard;
            EvdevNode* clone;
            std::string path;
            std::set<std::uint8_t> held;
            CloneTally tally;
        };
        Side sides[2] = {{keyboard_.get(), &clone_, lastPath_, {}, {}},
                         {second.get(), &secondClone, secondInstances.front().path, {}, {}}};
        // Every usage the kernel gives a key, the two pairs that share one
        // (0x31/0x32, 0x4C/0xD8) among them; never the sentinel.
        std::vector<std::uint8_t> usages;
        for (unsigned u = 4; u <= 0xE7; ++u) {
            if (u != kSentinelUsage && u != kSysRqUsage && reportedKeyFromUsage({kUsagePageKeyboard, u}))
                usages.push_back(static_cast<std::uint8_t>(u));
        }
        std::mt19937 random(s.seed);
        std::vector<std::uint8_t> table(256);
        // Every table has been answered, and everything each keyboard sent
        // before its sentinel has come through.
        const auto sync = [&] {
            check(bus_.waitForAnswers(0, 10000), "SetProperties answers do not come");
            check(bus_.failedAnswers() == 0, std::to_string(bus_.failedAnswers()) +
                                                 " SetProperties calls failed, the first with " + bus_.firstFailure());
            for (Side& side : sides) {
                const auto events = roundTrip(*side.keyboard, kSentinelUsage, kSentinelKey, *side.clone, nullptr, 5000);
                check(events.has_value(), "the sentinel key did not come through");
                for (const KeyOut& k : *events) side.tally.add(k.code, k.value);
            }
        };
        const auto isModifier = [](std::uint8_t u) { return u >= 0xE0 && u <= 0xE7; };
        for (int i = 0; i < s.swaps; ++i) {
            // The sentinel stays itself, and no other key becomes it or
            // SysRq (Print Screen), which the kernel's SysRq handler takes.
            for (auto& b : table) {
                do b = static_cast<std::uint8_t>(random());
                while (b == kSentinelUsage || b == kSysRqUsage);
            }
            table[kSentinelUsage] = kSentinelUsage;
            // The tables go out without waiting for each answer (a few
            // dozen in flight), so that they meet the keys at every point.
            Side& target = sides[random() % 2];
            check(bus_.sendKeymap(target.path, table), "cannot send SetProperties");
            if (i % 16 == 15) check(bus_.waitForAnswers(16, 5000), "SetProperties answers do not come");

            Side& side = sides[random() % 2];
            const auto heldKeys = std::count_if(side.held.begin(), side.held.end(), [&](auto u) { return !isModifier(u); });
            if (!side.held.empty() && (random() % 2 == 0 || heldKeys >= 5)) {
                auto it = side.held.begin();
                std::advance(it, random() % side.held.size());
                const std::uint8_t usage = *it;
                side.held.erase(it);
                check(side.keyboard->release(usage), "release failed");
            } else {
                const std::uint8_t usage = usages[random() % usages.size()];
                side.held.insert(usage);
                check(side.keyboard->press(usage), "press failed");
            }
            for (Side& each : sides) each.tally.read(*each.clone);
            if (i % 1000 == 999) {
                sync();
                for (Side& each : sides) {
                    check(each.tally.down.size() <= each.held.size(),
                          std::to_string(each.tally.down.size()) + " keys down on a virtual keyboard whose keyboard holds " +
                              std::to_string(each.held.size()));
                }
            }
        }
        for (Side& side : sides) {
            check(side.keyboard->releaseAll(), "release failed");
            side.held.clear();
        }
        sync();
        long checked = 0;
        for (Side& side : sides) {
            const std::string down = keysDown(*side.clone);
            check(down.empty(), "keys left down on a virtual keyboard:" + down);
            check(side.tally.down.empty() && side.tally.presses == side.tally.releases,
                  std::to_string(side.tally.presses) + " presses but " + std::to_string(side.tally.releases) +
                      " releases on a virtual keyboard");
            checked += side.tally.presses + side.tally.releases;
        }
        std::printf("           %d table swaps, %ld key events checked on two virtual keyboards\n", s.swaps, checked);
        secondClone.close();
    }

    // The driver's descriptors once they stay the same for 100 ms: udev
    // events that the driver is still reading open sysfs files for a moment.
    std::vector<std::string> settledDescriptors(pid_t pid) {
        auto last = openDescriptors(pid);
        for (int i = 0; i < 20; ++i) {
            if (keyboard_) keyboard_->pump(100);
            else std::this_thread::sleep_for(std::chrono::milliseconds(100));
            auto now = openDescriptors(pid);
            if (now == last) break;
            last = std::move(now);
        }
        return last;
    }

    void exec(const step::ReplugCycles& c) {
        const KeyboardDescription& d = keyboard_->description;
        const pid_t pid = driver_.pid();
        const auto before = settledDescriptors(pid);
        check(!before.empty(), "cannot read the driver's descriptors");
        std::size_t signalsSeen = bus_.managerSignals().size();
        for (int i = 0; i < c.cycles; ++i) {
            // The instance of this plug must be there before keys go down.
            if (i > 0) {
                const std::string path = bus_.waitForAdded(signalsSeen, 5000, [this] { keyboard_->pump(0); });
                check(!path.empty(), "cycle " + std::to_string(i) + ": no new instance");
                signalsSeen = bus_.managerSignals().size();
                lastPath_ = path;
            }
            for (std::uint8_t usage : c.held) check(keyboard_->press(usage), "press failed");
            clone_.close();
            reader_.close();
            keyboard_.reset();
            keyboard_ = plugUhidKeyboard(d);
            check(keyboard_ != nullptr, "cannot create the test keyboard again");
        }
        openNode(*keyboard_, NodeKind::Keyboard, reader_);
        exec(step::ExpectInstance{std::nullopt, true});
        exec(step::ExpectNoKeyDown{});
        const auto clones = findEventNodes(d.vendor, d.product, NodeKind::VirtualClone);
        check(clones.size() == 1, std::to_string(clones.size()) + " virtual keyboards after the cycles");
        check(instancesOf(d).size() == 1, "more than one instance after the cycles");
        const auto after = settledDescriptors(pid);
        const auto list = [](const std::vector<std::string>& fds) {
            std::string text;
            for (const auto& fd : fds) text += " " + fd;
            return text;
        };
        check(after.size() == before.size(), "the driver's descriptors before the cycles:" + list(before) +
                                                 "; after:" + list(after));
        std::printf("           %d unplug/plug cycles; driver descriptors %zu before, %zu after\n", c.cycles,
                    before.size(), after.size());
    }

    DriverProcess driver_;
    DriverBus bus_;
    std::unique_ptr<TestKeyboard> keyboard_;
    EvdevNode reader_;
    EvdevNode clone_;
    std::unique_ptr<TestKeyboard> interface_;
    EvdevNode interfaceClone_;
    std::string lastPath_;
    // Key events read from the virtual keyboard while waiting for the
    // driver to end; ExpectCloneGone starts with them.
    std::vector<KeyOut> cloneTail_;
    std::uint32_t cloneTailScan_ = 0;
    std::size_t stepIndex_ = 0;
    bool frozen_ = false;
};

}  // namespace

int runScenarios(std::vector<Scenario> scenarios, const std::string& unit) {
    int failed = 0;
    for (Scenario& s : scenarios) {
        const auto start = std::chrono::steady_clock::now();
        std::string error;
        std::size_t at = 0;
        {
            Runner runner(unit);
            try {
                runner.run(s);
            } catch (const Failure& f) {
                error = f.what;
                at = runner.stepIndex();
            }
        }
        const long ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
        if (error.empty()) {
            std::printf("[  PASSED  ] %s (%ld ms)\n", s.name.c_str(), ms);
        } else {
            ++failed;
            std::printf("[  FAILED  ] %s: step %zu: %s\n", s.name.c_str(), at + 1, error.c_str());
        }
        std::fflush(stdout);
        s.steps.clear();
    }
    std::printf("%zu passed, %d failed\n", scenarios.size() - static_cast<std::size_t>(failed), failed);
    return failed;
}

}  // namespace vexa::guest
