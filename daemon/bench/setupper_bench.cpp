// The set-up daemon's benchmark (a harness that prints medians, not a
// test): the time from a "Reconfigure" signal to the last SetProperties of
// the pass it starts, with 1, 4 and 16 keyboards; and, with 16 keyboards,
// the daemon's wake-ups and memory while nothing happens for 10 s. The
// daemon runs as a process of its own on a private system bus, against
// stand-ins for the driver and logind, with root at the console and root's
// saved tables in a home of its own.
//   setupper_bench [ROUNDS]
#include <systemd/sd-bus.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "keymap/keymap.h"
#include "prefs/prefs.h"
#include "prefs/setupper_bus.h"
#include "tests/standins/daemon_process.h"
#include "tests/standins/driver_standin.h"
#include "tests/standins/logind_standin.h"
#include "tests/support/event_loop.h"
#include "tests/support/private_bus.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using vexa::test::runDefaultEventLoopUntil;

std::uint64_t nowUsec() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1'000'000 + static_cast<std::uint64_t>(ts.tv_nsec) / 1000;
}

// A number from /proc/<pid>/status ("VmRSS", "voluntary_ctxt_switches", ...).
long statusField(pid_t pid, const std::string& field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, field.size() + 1, field + ":") == 0) return std::atol(line.c_str() + field.size() + 1);
    }
    return -1;
}

long wakeups(pid_t pid) {
    return statusField(pid, "voluntary_ctxt_switches") + statusField(pid, "nonvoluntary_ctxt_switches");
}

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(p * static_cast<double>(v.size() - 1))];
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 200;
    vexa::test::TempDir dir;
    vexa::test::PrivateSystemBus bus{"<include>" VEXA_DRIVER_POLICY "</include><include>" VEXA_LOGIND_POLICY
                                     "</include>"};
    const std::string home = dir / "home";
    std::filesystem::create_directories(home);
    {
        Keymap ansi, jis;
        KZ714defaultOrlaANSIKeymap(ansi);
        KZ714defaultOrlaJISKeymap(jis);
        ansi[0x04] = 0x29;
        vexa::archive::Dictionary root;
        KZ730setKeymapToPrefData(&root, KZ714_TYPE_ANSI, ansi);
        KZ730setKeymapToPrefData(&root, KZ714_TYPE_JIS, jis);
        vexa::test::ScopedEnv homeEnv("HOME", home.c_str());
        if (KZ730writeNewPrefFile(nullptr, &root, nullptr) != 0) return 1;
    }
    vexa::test::LogindStandin logind;
    logind.activate(vexa::test::LogindStandin::User{"root", 0});
    sd_bus* raw = nullptr;
    if (sd_bus_open_system(&raw) < 0) return 1;
    vexa::BusPtr poster(raw);

    std::printf("Reconfigure -> last SetProperties of the pass, %d rounds (microseconds)\n", rounds);
    std::printf("%10s %10s %10s %10s %10s\n", "keyboards", "median", "p90", "min", "max");
    for (const int keyboards : {1, 4, 16}) {
        vexa::test::DriverStandin driver;
        for (int i = 0; i < keyboards; ++i) {
            driver.publish({"kb" + std::to_string(i), i % 2 ? 1138 : 1278, i % 2 ? 104 : 6, 0, "mirlan_VexaOrla", 0,
                            ""});
        }
        const std::string folder = dir / std::to_string(keyboards);
        std::filesystem::create_directories(folder);
        vexa::test::DaemonProcess daemon(VEXA_DAEMON, folder);
        auto env = vexa::test::environmentWithout({"HOME"});
        env.push_back("HOME=" + home);
        env.push_back("SYSTEMD_UNIT_PATH=" + folder);  // no driver unit: the machine's keyboards stay as they are
        daemon.start(std::move(env));
        const auto runUntil = [&](std::size_t calls) {
            return runDefaultEventLoopUntil(
                [&] {
                    daemon.poll();
                    return daemon.ready() && driver.calls.size() >= calls;
                },
                10s);
        };
        if (!runUntil(static_cast<std::size_t>(keyboards))) {
            std::fprintf(stderr, "the daemon did not start:\n%s\n", daemon.log().c_str());
            return 1;
        }
        std::vector<double> times;
        for (int round = 0; round < rounds; ++round) {
            const std::size_t target = driver.calls.size() + static_cast<std::size_t>(keyboards);
            const std::uint64_t start = nowUsec();
            namespace names = vexa::setupper_bus;
            sd_bus_emit_signal(poster.get(), names::kObjectPath, names::kInterface, names::kMember, "s",
                               names::kReconfigure);
            sd_bus_flush(poster.get());
            if (!runUntil(target)) {
                std::fprintf(stderr, "no pass after Reconfigure:\n%s\n", daemon.log().c_str());
                return 1;
            }
            times.push_back(static_cast<double>(driver.calls.back().monotonicUsec - start));
        }
        std::printf("%10d %10.0f %10.0f %10.0f %10.0f\n", keyboards, percentile(times, 0.5), percentile(times, 0.9),
                    percentile(times, 0.0), percentile(times, 1.0));

        if (keyboards == 16) {
            // Idle: the last pass is answered and over, then nothing is sent
            // to the daemon; nothing should wake it.
            runDefaultEventLoopUntil([] { return false; }, 500ms);
            const long before = wakeups(daemon.pid());
            std::this_thread::sleep_for(10s);
            const long after = wakeups(daemon.pid());
            std::printf("idle 10 s with %d keyboards: %ld wake-ups; VmRSS %ld kB, VmHWM %ld kB\n", keyboards,
                        after - before, statusField(daemon.pid(), "VmRSS"), statusField(daemon.pid(), "VmHWM"));
        }
        daemon.terminate();
        runDefaultEventLoopUntil(
            [&] {
                daemon.poll();
                return daemon.exitStatus().has_value();
            },
            10s);
    }
    return 0;
}
