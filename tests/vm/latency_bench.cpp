// Guest benchmark (not a test): latency from the write of a key report to
// uhid until the key event is read on the virtual keyboard, for
//   - the VexaOrla driver (grab, uinput clone, table, bus),
//   - a plain passthrough (grab + uinput clone, no table),
//   - interception-tools: interception -g DEV | uinput -d DEV,
// on the same uhid keyboard in one guest run. Prints median and p99 of each
// and the driver's ratios to the other two.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "tests/vm/driver_client.h"
#include "tests/vm/evdev_node.h"
#include "tests/vm/test_keyboard.h"

namespace {

using namespace vexa::guest;
using Clock = std::chrono::steady_clock;

constexpr int kWarmup = 30;
constexpr int kSamples = 1000;  // key events (presses and releases)

struct Result {
    const char* name;
    double medianUs = 0, p99Us = 0;
    bool ok = false;
};

pid_t spawn(const std::vector<std::string>& args) {
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

void stopGroup(pid_t pid) {
    if (pid <= 0) return;
    kill(-pid, SIGTERM);
    for (int i = 0; i < 200; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(-pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

// Presses and releases A through the keyboard, timing each event from the
// uhid write to the read on the clone.
bool measure(TestKeyboard& kb, EvdevNode& clone, Result& result) {
    std::vector<double> samples;
    samples.reserve(kSamples);
    for (int i = 0; i < kWarmup + kSamples / 2; ++i) {
        for (int value : {1, 0}) {
            const auto start = Clock::now();
            if (!(value ? kb.press(0x04) : kb.release(0x04))) return false;
            bool seen = false;
            while (!seen) {
                auto ev = clone.next(2000);
                if (!ev) {
                    std::fprintf(stderr, "bench %s: event %d did not arrive\n", result.name, i);
                    return false;
                }
                seen = ev->type == EV_KEY && ev->code == KEY_A && ev->value == value;
            }
            const double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
            if (i >= kWarmup) samples.push_back(us);
        }
    }
    std::sort(samples.begin(), samples.end());
    result.medianUs = samples[samples.size() / 2];
    result.p99Us = samples[std::min(samples.size() - 1, samples.size() * 99 / 100)];
    result.ok = true;
    return true;
}

bool openClone(TestKeyboard& kb, EvdevNode& clone) {
    const auto& d = kb.description;
    const std::string node = waitForEventNode(d.vendor, d.product, NodeKind::VirtualClone, 5000, [&] { kb.pump(0); });
    if (node.empty() || !clone.open(node)) return false;
    // Let the grab take hold and udev settle on the new device.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    clone.drain();
    return true;
}

}  // namespace

int main() {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    auto kb = plugUhidKeyboard(kOrlaANSI);
    if (!kb) return 1;
    const std::string source =
        waitForEventNode(kOrlaANSI.vendor, kOrlaANSI.product, NodeKind::Keyboard, 5000, [&] { kb->pump(0); });
    if (source.empty()) return 1;

    Result driver{"VexaOrla driver"}, passthrough{"plain passthrough"}, interception{"interception-tools"};
    {
        DriverProcess process;
        EvdevNode clone;
        if (process.start() && openClone(*kb, clone)) measure(*kb, clone, driver);
        clone.close();
        process.stop();
    }
    {
        const pid_t pid = spawn({"/usr/local/bin/vexa_guest_passthrough", source});
        EvdevNode clone;
        if (openClone(*kb, clone)) measure(*kb, clone, passthrough);
        clone.close();
        stopGroup(pid);
    }
    {
        const pid_t pid = spawn({"/bin/sh", "-c", "exec /usr/bin/interception -g " + source + " | /usr/bin/uinput -d " + source});
        EvdevNode clone;
        if (openClone(*kb, clone)) measure(*kb, clone, interception);
        clone.close();
        stopGroup(pid);
    }

    std::printf("\nKey latency, uhid write to read on the virtual keyboard (%d events each, qemu TCG guest):\n",
                kSamples);
    bool ok = true;
    for (const Result* r : {&driver, &passthrough, &interception}) {
        if (r->ok) std::printf("  %-20s median %8.1f us   p99 %8.1f us\n", r->name, r->medianUs, r->p99Us);
        else std::printf("  %-20s FAILED\n", r->name);
        ok = ok && r->ok;
    }
    if (!ok) return 1;
    std::printf("  driver / passthrough:        median %.2fx   p99 %.2fx\n", driver.medianUs / passthrough.medianUs,
                driver.p99Us / passthrough.p99Us);
    std::printf("  driver / interception-tools: median %.2fx   p99 %.2fx\n", driver.medianUs / interception.medianUs,
                driver.p99Us / interception.p99Us);
    return 0;
}
