// The latency benchmark's baselines: grab a keyboard node, clone it on
// uinput and copy every event unchanged, each batch read with one read and
// written with one write; no table, no bus, no event loop. Stops on SIGTERM.
//   vexa_guest_passthrough [--leds] /dev/input/eventN
// With --leds it also does what a keyboard passthrough needs for the LEDs:
// it watches the clone for the LEDs that the system sets and forwards them
// to the keyboard. Every MSC_SCAN written to a clone comes back on its uinput
// descriptor, so this costs one more read per key event.
#include <fcntl.h>
#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace {

volatile std::sig_atomic_t stopping = 0;
void onSignal(int) { stopping = 1; }

// Reads what the system wrote to the clone; LEDs go on to the keyboard.
void forwardLeds(int clone, int keyboard) {
    input_event batch[16];
    const ssize_t n = read(clone, batch, sizeof batch);
    if (n <= 0) return;
    input_event leds[17]{};
    std::size_t count = 0;
    for (std::size_t i = 0; i < static_cast<std::size_t>(n) / sizeof *batch; ++i) {
        if (batch[i].type == EV_LED) leds[count++] = batch[i];
    }
    if (count == 0) return;
    leds[count].type = EV_SYN;
    leds[count++].code = SYN_REPORT;
    (void)!write(keyboard, leds, count * sizeof *leds);
}

}  // namespace

int main(int argc, char** argv) {
    const bool leds = argc == 3 && std::strcmp(argv[1], "--leds") == 0;
    if (argc != 2 && !leds) {
        std::fprintf(stderr, "usage: %s [--leds] /dev/input/eventN\n", argv[0]);
        return 2;
    }
    const char* node = argv[argc - 1];
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigaction(SIGTERM, &sa, nullptr);
    const int fd = open(node, O_RDWR | O_NONBLOCK | O_CLOEXEC);
    libevdev* dev = nullptr;
    libevdev_uinput* clone = nullptr;
    int r = fd < 0 ? -1 : libevdev_new_from_fd(fd, &dev);
    if (r >= 0) r = ioctl(fd, EVIOCGRAB, 1);
    if (r >= 0) r = libevdev_uinput_create_from_device(dev, LIBEVDEV_UINPUT_OPEN_MANAGED, &clone);
    if (r < 0) {
        std::fprintf(stderr, "passthrough: cannot set up %s\n", node);
        return 1;
    }
    const int out = libevdev_uinput_get_fd(clone);
    if (leds) fcntl(out, F_SETFL, fcntl(out, F_GETFL) | O_NONBLOCK);
    input_event batch[64];
    pollfd fds[2] = {{fd, POLLIN, 0}, {out, POLLIN, 0}};
    while (!stopping) {
        if (poll(fds, leds ? 2 : 1, -1) <= 0) continue;
        if (fds[0].revents != 0) {
            const ssize_t n = read(fd, batch, sizeof batch);
            if (n < 0 && errno != EAGAIN && errno != EINTR) break;
            if (n > 0) (void)!write(out, batch, static_cast<std::size_t>(n));
            // The scans just written are back already: take them now.
            if (n > 0 && leds) forwardLeds(out, fd);
        }
        if (leds && fds[1].revents != 0) forwardLeds(out, fd);
    }
    libevdev_uinput_destroy(clone);
    ioctl(fd, EVIOCGRAB, 0);
    libevdev_free(dev);
    close(fd);
    return 0;
}
