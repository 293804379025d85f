// Guest benchmark: latency from the write of a key report to uhid until the
// key event is read on the virtual keyboard, for
//   - the VexaOrla driver (grab, uinput clone, table, bus, LED forwarding),
//   - a plain passthrough (grab + uinput clone, one read and one write per
//     batch, no table, LEDs not forwarded),
//   - the same passthrough forwarding LEDs, as a keyboard needs,
//   - interception-tools: interception -g DEV | uinput -d DEV,
// each on its own uhid keyboard, all running at once; the samples are taken
// in turn (each round starting one further), so that a change of load on
// the host touches all alike. Prints median and p99 of each, the driver's
// ratios to the others and the CPU time per key event, then the driver's
// resident memory and its wake-ups over 10 idle seconds.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <chrono>
#include <cstdio>
#include <fstream>
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
constexpr int kSamples = 1000;  // key events (presses and releases) per subject
constexpr int kIdleSeconds = 10;

const KeyboardDescription kPassthroughKeyboard{"Bench passthrough", 0x1234, 0x0B01, bootKeyboardDescriptor()};
const KeyboardDescription kInterceptionKeyboard{"Bench interception", 0x1234, 0x0B02, bootKeyboardDescriptor()};
const KeyboardDescription kLedPassthroughKeyboard{"Bench LED passthrough", 0x1234, 0x0B03, bootKeyboardDescriptor()};

struct Subject {
    const char* name;
    std::unique_ptr<TestKeyboard> keyboard;
    EvdevNode clone;
    pid_t group = -1;  // process group of a baseline
    pid_t process = -1;  // the process whose CPU time is counted
    double cpuNsStart = 0, cpuNsPerEvent = -1;
    std::vector<double> samples;
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

std::string keyboardNode(TestKeyboard& kb) {
    const auto& d = kb.description;
    return waitForEventNode(d.vendor, d.product, NodeKind::Keyboard, 5000, [&] { kb.pump(0); }, d.name);
}

bool openClone(Subject& s) {
    const auto& d = s.keyboard->description;
    const std::string node =
        waitForEventNode(d.vendor, d.product, NodeKind::VirtualClone, 5000, [&] { s.keyboard->pump(0); });
    if (node.empty() || !s.clone.open(node)) return false;
    // Let the grab take hold and udev settle on the new device.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    s.clone.drain();
    return true;
}

// One press or release of A, timed from the uhid write to the read on the
// virtual keyboard.
bool timeOne(Subject& s, int value, bool keep) {
    const auto start = Clock::now();
    if (!(value ? s.keyboard->press(0x04) : s.keyboard->release(0x04))) return false;
    for (;;) {
        auto ev = s.clone.next(2000);
        if (!ev) {
            std::fprintf(stderr, "bench %s: an event did not arrive\n", s.name);
            return false;
        }
        if (ev->type == EV_KEY && ev->code == KEY_A && ev->value == value) break;
    }
    if (keep) s.samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    return true;
}

struct ProcessFigures {
    long rssKiB = -1;
    long switches = -1;  // voluntary + involuntary context switches: one per wake-up at least
};

ProcessFigures figuresOf(pid_t pid) {
    ProcessFigures f;
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    long switches = 0;
    int found = 0;
    while (std::getline(status, line)) {
        const auto colon = line.find(':');
        if (colon == std::string::npos) continue;
        const std::string key = line.substr(0, colon);
        const long value = std::atol(line.c_str() + colon + 1);
        if (key == "VmRSS") f.rssKiB = value;
        if (key == "voluntary_ctxt_switches" || key == "nonvoluntary_ctxt_switches") {
            switches += value;
            ++found;
        }
    }
    if (found == 2) f.switches = switches;
    return f;
}

// CPU time a process has used, in nanoseconds (the scheduler's own count).
double cpuNs(pid_t pid) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/schedstat");
    double ns = -1;
    f >> ns;
    return ns;
}

std::string firstLineOf(const char* path) {
    std::ifstream f(path);
    std::string line;
    std::getline(f, line);
    return line;
}

}  // namespace

int main() {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    std::vector<Subject> subjects(4);
    subjects[0].name = "VexaOrla driver";
    subjects[1].name = "plain passthrough";
    subjects[2].name = "passthrough with LEDs";
    subjects[3].name = "interception-tools";
    subjects[0].keyboard = plugUhidKeyboard(kOrlaANSI);
    subjects[1].keyboard = plugUhidKeyboard(kPassthroughKeyboard);
    subjects[2].keyboard = plugUhidKeyboard(kLedPassthroughKeyboard);
    subjects[3].keyboard = plugUhidKeyboard(kInterceptionKeyboard);
    for (const Subject& s : subjects) {
        if (!s.keyboard) return 1;
    }
    const std::string passthroughNode = keyboardNode(*subjects[1].keyboard);
    const std::string ledPassthroughNode = keyboardNode(*subjects[2].keyboard);
    const std::string interceptionNode = keyboardNode(*subjects[3].keyboard);
    if (passthroughNode.empty() || ledPassthroughNode.empty() || interceptionNode.empty()) return 1;

    DriverProcess driver;
    if (!driver.start()) return 1;
    subjects[1].group = spawn({"/usr/local/bin/vexa_guest_passthrough", passthroughNode});
    subjects[2].group = spawn({"/usr/local/bin/vexa_guest_passthrough", "--leds", ledPassthroughNode});
    subjects[3].group = spawn({"/bin/sh", "-c",
                               "exec /usr/bin/interception -g " + interceptionNode + " | /usr/bin/uinput -d " +
                                   interceptionNode});
    bool ok = true;
    for (Subject& s : subjects) {
        ok = ok && openClone(s);
        for (int i = 0; ok && i < kWarmup; ++i) ok = timeOne(s, 1, false) && timeOne(s, 0, false);
    }
    subjects[0].process = driver.pid();
    subjects[1].process = subjects[1].group;
    subjects[2].process = subjects[2].group;
    for (Subject& s : subjects) {
        if (s.process > 0) s.cpuNsStart = cpuNs(s.process);
    }
    for (int round = 0; ok && round < kSamples / 2; ++round) {
        for (std::size_t k = 0; ok && k < subjects.size(); ++k) {
            Subject& s = subjects[(round + k) % subjects.size()];
            ok = timeOne(s, 1, true) && timeOne(s, 0, true);
        }
    }
    for (Subject& s : subjects) {
        if (s.process > 0) s.cpuNsPerEvent = (cpuNs(s.process) - s.cpuNsStart) / kSamples;
        if (!ok || s.samples.empty()) continue;
        std::sort(s.samples.begin(), s.samples.end());
        s.medianUs = s.samples[s.samples.size() / 2];
        s.p99Us = s.samples[std::min(s.samples.size() - 1, s.samples.size() * 99 / 100)];
        s.ok = true;
    }

    // The driver idle with its keyboard attached and grabbed.
    const ProcessFigures idleStart = figuresOf(driver.pid());
    std::this_thread::sleep_for(std::chrono::seconds(kIdleSeconds));
    const ProcessFigures idleEnd = figuresOf(driver.pid());

    for (Subject& s : subjects) {
        s.clone.close();
        stopGroup(s.group);
    }
    driver.stop();

    std::printf("\nKey latency, uhid write to read on the virtual keyboard (%d events each, taken in turn;"
                " qemu TCG guest, clock source %s):\n",
                kSamples, firstLineOf("/sys/devices/system/clocksource/clocksource0/current_clocksource").c_str());
    for (const Subject& s : subjects) {
        if (s.ok) std::printf("  %-20s median %8.1f us   p99 %8.1f us\n", s.name, s.medianUs, s.p99Us);
        else std::printf("  %-20s FAILED\n", s.name);
    }
    if (!ok) return 1;
    const Subject& d = subjects[0];
    for (std::size_t k = 1; k < subjects.size(); ++k) {
        const Subject& other = subjects[k];
        std::printf("  driver / %-23s median %.3fx   p99 %.3fx\n", (other.name + std::string(":")).c_str(),
                    d.medianUs / other.medianUs, d.p99Us / other.p99Us);
    }
    std::printf("  CPU time per key event: driver %.1f us, plain passthrough %.1f us, with LEDs %.1f us\n",
                subjects[0].cpuNsPerEvent / 1000, subjects[1].cpuNsPerEvent / 1000,
                subjects[2].cpuNsPerEvent / 1000);
    std::printf("\nDriver with one keyboard attached: resident memory %ld KiB; %ld wake-ups in %d idle seconds\n",
                idleEnd.rssKiB, idleEnd.switches - idleStart.switches, kIdleSeconds);
    return 0;
}
