// The editor's HID layer in the guest, headless: uhid keyboards, the real
// driver remapping them, and the HID manager (udev, hidraw, the Qt event
// loop) reporting the physical usages pressed, before the driver's
// remapping. Prints what the HID layer reported for each key typed. Also
// runs the About window's driver information command on these devices.
//   vexa_guest_hid
#include <linux/input.h>
#include <sys/wait.h>
#include <systemd/sd-device.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QProcess>

#include "about/driver_info.h"

#include "keymap/keymap.h"
#include "platform/glue/owners.h"
#include "platform/hid/hid_manager.h"
#include "tests/vm/driver_client.h"
#include "tests/vm/evdev_node.h"
#include "tests/vm/test_keyboard.h"

namespace {

using namespace vexa::guest;
using vexa::hid::Device;
using vexa::hid::Manager;
using vexa::hid::InputValue;

// Sent after each step: whatever arrives before its release belongs to the
// step. F24 is the same key in every table used here.
constexpr std::uint8_t kSentinelUsage = 0x73;
constexpr std::uint16_t kSentinelKey = KEY_F24;

struct KeyAction {
    bool press;
    std::uint8_t usage;
};
std::vector<KeyAction> tap(std::uint8_t usage) { return {{true, usage}, {false, usage}}; }
std::vector<KeyAction> operator+(std::vector<KeyAction> a, const std::vector<KeyAction>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// One key event of the driver's virtual keyboard.
struct DriverKey {
    std::uint16_t code;
    std::int32_t value;
    friend bool operator==(const DriverKey&, const DriverKey&) = default;
};

// Keys typed on the JIS keyboard: what the HID layer must report (the
// physical usages) and what the driver's virtual keyboard must send (the
// remapped keys). `table` (usage, key code) replaces the driver's table first.
struct KeyStep {
    const char* what;
    std::vector<std::pair<int, int>> table;
    std::vector<KeyAction> actions;
    std::vector<InputValue> hid;
    std::vector<DriverKey> driver;
};

InputValue hidKey(std::uint8_t u, int v) { return {0x07, u, v}; }

const std::vector<KeyStep> kKeySteps = {
    {"the key left of 1 (the JIS table sends Left GUI)", {}, tap(0x35), {hidKey(0x35, 1), hidKey(0x35, 0)},
     {{KEY_LEFTMETA, 1}, {KEY_LEFTMETA, 0}}},
    {"the Kana key (the JIS table sends Right GUI)", {}, tap(0x88), {hidKey(0x88, 1), hidKey(0x88, 0)},
     {{KEY_RIGHTMETA, 1}, {KEY_RIGHTMETA, 0}}},
    {"A with Left Shift held", {}, std::vector<KeyAction>{{true, 0xE1}} + tap(0x04) + std::vector<KeyAction>{{false, 0xE1}},
     {hidKey(0xE1, 1), hidKey(0x04, 1), hidKey(0x04, 0), hidKey(0xE1, 0)},
     {{KEY_LEFTSHIFT, 1}, {KEY_A, 1}, {KEY_A, 0}, {KEY_LEFTSHIFT, 0}}},
    {"A and S down together, A let go first", {}, std::vector<KeyAction>{{true, 0x04}, {true, 0x16}, {false, 0x04}, {false, 0x16}},
     {hidKey(0x04, 1), hidKey(0x16, 1), hidKey(0x04, 0), hidKey(0x16, 0)},
     {{KEY_A, 1}, {KEY_S, 1}, {KEY_A, 0}, {KEY_S, 0}}},
    {"A after the table maps it to Escape", {{0x04, 0x29}}, tap(0x04), {hidKey(0x04, 1), hidKey(0x04, 0)},
     {{KEY_ESC, 1}, {KEY_ESC, 0}}},
    {"a key the table disables", {{0x04, 0x29}, {0x05, 0}}, tap(0x05), {hidKey(0x05, 1), hidKey(0x05, 0)}, {}},
};

std::string describe(const std::vector<InputValue>& values) {
    std::string s;
    for (const InputValue& v : values) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%s(%u, 0x%02X, %lld)", s.empty() ? "" : " ", v.usagePage, v.usage,
                      static_cast<long long>(v.value));
        s += buf;
    }
    return s.empty() ? "nothing" : s;
}

std::string describe(const std::vector<DriverKey>& keys) {
    std::string s;
    for (const DriverKey& k : keys) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%s%u=%d", s.empty() ? "" : " ", k.code, k.value);
        s += buf;
    }
    return s.empty() ? "nothing" : s;
}

class HidLayerCheck {
public:
    int run() {
        step("plug a JIS keyboard, another maker's keyboard and a media-key interface", [&] {
            jis_ = plugUhidKeyboard(kOrlaJIS);
            other_ = plugUhidKeyboard(kOtherKeyboard);
            media_ = plugUhidKeyboard(kOrlaANSIMedia);
            return jis_ && other_ && media_;
        });
        step("the driver serves the JIS keyboard", [&] {
            if (!driver_.start()) return false;
            if (!waitFor(5000, [&] { return !jisInstance().empty(); })) return false;
            const std::string node = waitForEventNode(kOrlaJIS.vendor, kOrlaJIS.product, NodeKind::VirtualClone, 5000,
                                                      [&] { pump(); });
            return !node.empty() && clone_.open(node);
        });

        step("watching keyboards: both keyboards matched from the event loop, the media keys not", [&] {
            manager_.setDeviceMatching({{0x01, 0x06, {}, {}}});
            manager_.registerDeviceMatchingCallback(onMatched, this);
            manager_.registerDeviceRemovalCallback(onRemoved, this);
            if (manager_.scheduleWithRunLoop() != 0 || !matched_.empty()) return false;
            waitFor(3000, [&] { return matched_.size() == 2; });
            return matched_.size() == 2 && manager_.copyDevices().size() == 2 && deviceOf(kOrlaJIS) &&
                   deviceOf(kOtherKeyboard);
        });
        step("udev tags the Vexa Orla's hidraw node uaccess, the other keyboard's not", [&] {
            return hasUaccessTag(deviceOf(kOrlaJIS)) && !hasUaccessTag(deviceOf(kOtherKeyboard));
        });
        step("the device holds the keyboard type; vendor and product are read-only", [&] {
            Device* d = deviceOf(kOrlaJIS);
            return d->setProperty("VexaKeyMap", 2) && d->property("VexaKeyMap") == 2 &&
                   !d->setProperty("VendorID", 1) && d->property("VendorID") == kOrlaJIS.vendor &&
                   d->property("ProductID") == kOrlaJIS.product && !d->property("LocationID");
        });
        step("an unprivileged user is refused the node, and the access check says so", [&] {
            return refusedToNobody(deviceOf(kOrlaJIS)->devnode());
        });
        step("the driver information lists each HID device with its hidraw and event nodes", [&] {
            QProcess dump;
            dump.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QString::fromLatin1(vexa::about::kDriverInfoCommand)});
            if (!dump.waitForFinished(10000)) return false;
            const QString text = vexa::about::driverInfoText(dump.readAllStandardOutput());
            bool ok = true;
            for (const char* line : {"E: HID_ID=0003:000004FE:00000007", "E: HID_ID=0003:00001234:00005678",
                                     "E: HID_ID=0003:000004FE:00000006", "E: SUBSYSTEM=hidraw", "E: DEVNAME=/dev/input/event"}) {
                if (!text.contains(QLatin1String(line))) {
                    std::printf("    the listing lacks \"%s\"\n", line);
                    ok = false;
                }
            }
            if (!ok) std::printf("%s\n", qPrintable(text));
            return ok;
        });
        step("open the JIS keyboard and listen", [&] {
            Device* d = deviceOf(kOrlaJIS);
            if (d->open() != 0 || !d->checkAccess()) return false;
            d->scheduleWithRunLoop();
            d->registerInputValueCallback(onValue, this);
            // The node may take reports before the driver's grab holds: type
            // the sentinel until both readers see it.
            for (int i = 0; i < 20; ++i) {
                if (exchange({}, 500)) return true;
            }
            return false;
        });

        for (const KeyStep& k : kKeySteps) {
            step(std::string("type ") + k.what, [&] {
                if (!k.table.empty() && !setTable(k.table)) return false;
                const auto got = exchange(k.actions, 3000);
                if (!got) return false;
                std::printf("    HID layer: %s\n    driver:    %s\n", describe(got->first).c_str(),
                            describe(got->second).c_str());
                if (got->first != k.hid) std::printf("    expected HID layer: %s\n", describe(k.hid).c_str());
                if (got->second != k.driver) std::printf("    expected driver:    %s\n", describe(k.driver).c_str());
                return got->first == k.hid && got->second == k.driver;
            });
        }

        step("unplugging the JIS keyboard with a key held releases the key and removes its device, and only it", [&] {
            clone_.close();
            values_.clear();
            const std::vector<InputValue> held{hidKey(0x04, 1)};
            if (!jis_->press(0x04) || !waitFor(3000, [&] { return values_ == held; })) return false;
            removed_.clear();
            Device* gone = deviceOf(kOrlaJIS);
            jis_.reset();
            waitFor(3000, [&] { return !removed_.empty(); });
            std::printf("    HID layer: %s\n", describe(values_).c_str());
            return values_ == std::vector<InputValue>{hidKey(0x04, 1), hidKey(0x04, 0)} &&
                   removed_ == std::vector<Device*>{gone} && manager_.copyDevices().size() == 1 &&
                   !deviceOf(kOrlaJIS) && deviceOf(kOtherKeyboard);
        });
        step("plugging it in again matches it again", [&] {
            matched_.clear();
            jis_ = plugUhidKeyboard(kOrlaJIS);
            waitFor(3000, [&] { return !matched_.empty(); });
            return jis_ && matched_.size() == 1 && matched_[0] == deviceOf(kOrlaJIS) &&
                   !matched_[0]->property("VexaKeyMap");
        });
        step("stopping the watch ends every callback and releases the devices", [&] {
            manager_.unscheduleFromRunLoop();
            if (!manager_.copyDevices().empty()) return false;
            matched_.clear();
            removed_.clear();
            other_.reset();
            auto again = plugUhidKeyboard(kOtherKeyboard);
            waitFor(1000, [] { return false; });
            return again && matched_.empty() && removed_.empty();
        });
        step("the driver stops cleanly", [&] { return driver_.stop() == 0; });

        std::printf("%d passed, %d failed\n", passed_, failed_);
        return failed_;
    }

private:
    static void onMatched(void* context, ErrorCode result, void*, Device* device) {
        if (result == 0) static_cast<HidLayerCheck*>(context)->matched_.push_back(device);
    }
    static void onRemoved(void* context, ErrorCode result, void*, Device* device) {
        if (result == 0) static_cast<HidLayerCheck*>(context)->removed_.push_back(device);
    }
    static void onValue(void* context, ErrorCode result, void*, const InputValue& value) {
        if (result == 0) static_cast<HidLayerCheck*>(context)->values_.push_back(value);
    }

    // Runs one step; after a failure the later steps are skipped, as they
    // build on it.
    void step(const std::string& what, const std::function<bool()>& body) {
        if (failed_ > 0) {
            std::printf("[ SKIPPED  ] %s\n", what.c_str());
            return;
        }
        const bool ok = body();
        std::printf("[  %s  ] %s\n", ok ? "PASSED" : "FAILED", what.c_str());
        ok ? ++passed_ : ++failed_;
    }

    void pump() {
        for (auto* k : {jis_.get(), other_.get(), media_.get()}) {
            if (k) k->pump(0);
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }

    bool waitFor(int timeoutMs, const std::function<bool()>& done) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!done()) {
            if (std::chrono::steady_clock::now() >= end) return false;
            pump();
        }
        return true;
    }

    Device* deviceOf(const KeyboardDescription& d) {
        for (Device* device : manager_.copyDevices()) {
            if (device->facts().vendorId == d.vendor && device->facts().productId == d.product) return device;
        }
        return nullptr;
    }

    static bool hasUaccessTag(const Device* device) {
        sd_device* d = nullptr;
        if (!device || sd_device_new_from_syspath(&d, device->syspath().c_str()) < 0) return false;
        vexa::DevicePtr owner(d);
        return sd_device_has_current_tag(d, "uaccess") > 0;
    }

    // In a child as nobody: the open fails with EACCES and the access check
    // is negative.
    static bool refusedToNobody(const std::string& devnode) {
        const pid_t pid = fork();
        if (pid == 0) {
            if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
            Device device("", devnode, {}, {});
            const int status = device.open();
            const bool allowed = device.checkAccess();
            if (status == -EACCES && !allowed) _exit(0);
            std::fprintf(stderr, "as nobody: open %d, access %s\n", status, allowed ? "granted" : "refused");
            _exit(1);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    std::string jisInstance() {
        for (const InstanceInfo& i : bus_.instances()) {
            if (i.vendor == kOrlaJIS.vendor && i.product == kOrlaJIS.product) return i.path;
        }
        return {};
    }

    bool setTable(const std::vector<std::pair<int, int>>& entries) {
        std::vector<std::uint8_t> table(256);
        KZ714defaultOrlaJISKeymap(table.data());
        for (auto [index, value] : entries) table[static_cast<std::size_t>(index)] = static_cast<std::uint8_t>(value);
        std::string error;
        return bus_.setKeymap(jisInstance(), table, &error) == 0;
    }

    // Sends the actions and then the sentinel; what the HID layer and the
    // driver's virtual keyboard gave before the sentinel, or nothing when
    // the sentinel did not come back to both.
    std::optional<std::pair<std::vector<InputValue>, std::vector<DriverKey>>> exchange(
        const std::vector<KeyAction>& actions, int timeoutMs) {
        values_.clear();
        clone_.drain();
        for (const KeyAction& a : actions) {
            if (!(a.press ? jis_->press(a.usage) : jis_->release(a.usage))) return std::nullopt;
        }
        if (!jis_->press(kSentinelUsage) || !jis_->release(kSentinelUsage)) return std::nullopt;
        std::vector<DriverKey> keys;
        bool driverDone = false;
        const InputValue sentinelUp = hidKey(kSentinelUsage, 0);
        const auto hidDone = [&] { return std::find(values_.begin(), values_.end(), sentinelUp) != values_.end(); };
        const bool done = waitFor(timeoutMs, [&] {
            while (!driverDone) {
                const auto ev = clone_.next(0);
                if (!ev) break;
                if (ev->type != EV_KEY || ev->value == 2) continue;
                if (ev->code == kSentinelKey) driverDone = ev->value == 0;
                else keys.push_back({ev->code, ev->value});
            }
            return driverDone && hidDone();
        });
        if (!done) return std::nullopt;
        std::vector<InputValue> hid;
        for (const InputValue& v : values_) {
            if (v.usagePage == 0x07 && v.usage == kSentinelUsage) break;
            hid.push_back(v);
        }
        return std::make_pair(hid, keys);
    }

    DriverProcess driver_;
    DriverBus bus_;
    std::unique_ptr<TestKeyboard> jis_, other_, media_;
    EvdevNode clone_;
    Manager manager_;
    std::vector<Device*> matched_, removed_;
    std::vector<InputValue> values_;
    int passed_ = 0, failed_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    QCoreApplication app(argc, argv);
    return HidLayerCheck().run() == 0 ? 0 : 1;
}
