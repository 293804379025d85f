// Start-up benchmark of KeymapEditor: how long from starting the program to
// its first visible window, with every start-up check in place (the
// driver's unit file in the unit search path, a set-up daemon running, the
// process checks run). Runs on an X server (DISPLAY): the window counts as
// visible once it is mapped and its pixels show the drawn keyboard, not one
// plain colour. Prints each start and the median of the starts, with the
// CPU time the editor used until then.
//
//   start_bench <KeymapEditor> <driver unit file> [starts, 5 by default]
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
    std::vector<char*> args, envp;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    pid_t pid = 0;
    return posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), envp.data()) == 0 ? pid : -1;
}

void stop(pid_t pid) {
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
}

// True when a row across the middle of the window shows more than a few
// colours: the keyboard picture and its keys have been drawn.
bool windowIsDrawn(xcb_connection_t* x, xcb_window_t window) {
    auto geometry = std::unique_ptr<xcb_get_geometry_reply_t, decltype(&std::free)>(
        xcb_get_geometry_reply(x, xcb_get_geometry(x, window), nullptr), &std::free);
    if (!geometry || geometry->width < 2 || geometry->height < 2) return false;
    auto image = std::unique_ptr<xcb_get_image_reply_t, decltype(&std::free)>(
        xcb_get_image_reply(x,
                            xcb_get_image(x, XCB_IMAGE_FORMAT_Z_PIXMAP, window, 0, geometry->height / 3,
                                          geometry->width, 1, ~0u),
                            nullptr),
        &std::free);
    if (!image) return false;
    const auto* pixels = reinterpret_cast<const std::uint32_t*>(xcb_get_image_data(image.get()));
    const int count = xcb_get_image_data_length(image.get()) / 4;
    std::set<std::uint32_t> colours(pixels, pixels + count);
    return colours.size() >= 16;
}

// CPU time the process's threads have used so far, in ms (from the
// scheduler's accounting, in nanoseconds): unlike the wall time it hardly
// depends on what else the machine is doing.
double cpuMilliseconds(pid_t pid) {
    double total = 0;
    std::error_code error;
    for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
        std::ifstream stat(task.path() / "schedstat");
        unsigned long long onCpu = 0;
        if (stat >> onCpu) total += onCpu / 1e6;
    }
    return total;
}

struct Start {
    double mapped = 0;  // ms until the window was mapped
    double drawn = 0;   // ms until it showed the keyboard
    double cpu = 0;     // CPU ms the editor used until then
};

// One start: the time until the first window is mapped and drawn; a
// negative time when none was within ten seconds.
Start measureOnce(xcb_connection_t* x, const std::string& editor, const std::vector<std::string>& env) {
    const Clock::time_point start = Clock::now();
    const pid_t pid = spawn({editor}, env);
    Start result{-1, -1, -1};
    if (pid < 0) return result;
    xcb_window_t window = 0;
    while (millisecondsSince(start) < 10000 && result.drawn < 0) {
        if (window == 0) {
            std::unique_ptr<xcb_generic_event_t, decltype(&std::free)> event(xcb_poll_for_event(x), &std::free);
            if (!event) {
                ::usleep(200);
                continue;
            }
            if ((event->response_type & 0x7F) == XCB_MAP_NOTIFY) {
                window = reinterpret_cast<xcb_map_notify_event_t*>(event.get())->window;
                result.mapped = millisecondsSince(start);
            }
        } else if (windowIsDrawn(x, window)) {
            result.drawn = millisecondsSince(start);
            result.cpu = cpuMilliseconds(pid);
        } else {
            ::usleep(200);
        }
    }
    stop(pid);
    // Let go of what the run left queued (its unmap and destroy).
    while (auto* event = xcb_poll_for_event(x)) std::free(event);
    return result;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <KeymapEditor> <driver unit file> [starts]\n", argv[0]);
        return 2;
    }
    const std::string editor = fs::absolute(argv[1]);
    const int starts = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;

    // The suite in place: the unit file where systemd would find it, and a
    // set-up daemon (a program of that name that only waits).
    char pattern[] = "/tmp/start-bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) return 1;
    const fs::path work = pattern;
    fs::create_directories(work / "units");
    fs::create_directories(work / "home");
    fs::copy_file(argv[2], work / "units" / fs::path(argv[2]).filename());
    fs::copy_file("/bin/sleep", work / "VexaOrlaSetUpper");
    const pid_t daemon = spawn({(work / "VexaOrlaSetUpper").string(), "infinity"}, {});

    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        if (entry.rfind("HOME=", 0) == 0 || entry.rfind("SYSTEMD_UNIT_PATH=", 0) == 0 ||
            entry.rfind("QT_QPA_PLATFORM=", 0) == 0 || entry.rfind("XDG_CONFIG_HOME=", 0) == 0)
            continue;
        env.push_back(entry);
    }
    env.push_back("HOME=" + (work / "home").string());
    env.push_back("SYSTEMD_UNIT_PATH=" + (work / "units").string());

    int status = 0;
    xcb_connection_t* x = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(x)) {
        std::fprintf(stderr, "no X server (DISPLAY)\n");
        status = 1;
    } else {
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(x)).data;
        const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(x, screen->root, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(x);

        // One start first, not counted: the program and its libraries come
        // into the page cache.
        measureOnce(x, editor, env);
        std::vector<double> drawn, mapped, cpu;
        for (int i = 0; i < starts; ++i) {
            const Start s = measureOnce(x, editor, env);
            if (s.drawn < 0) {
                std::fprintf(stderr, "start %d: no window within 10 s\n", i + 1);
                status = 1;
                break;
            }
            std::printf("start %d: window mapped after %.1f ms, drawn after %.1f ms, %.1f ms of CPU\n", i + 1,
                        s.mapped, s.drawn, s.cpu);
            drawn.push_back(s.drawn);
            mapped.push_back(s.mapped);
            cpu.push_back(s.cpu);
        }
        if (status == 0) {
            std::printf("KeymapEditor start to first visible window: median of %d starts %.1f ms "
                        "(mapped %.1f ms; %.1f ms of CPU)\n",
                        starts, median(drawn), median(mapped), median(cpu));
        }
    }
    xcb_disconnect(x);
    if (daemon > 0) stop(daemon);
    fs::remove_all(work);
    return status;
}
