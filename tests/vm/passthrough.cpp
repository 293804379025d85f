// The benchmark's baseline: grab a keyboard node, clone it on uinput and
// copy every event unchanged; no table, no bus. Stops on SIGTERM.
//   vexa_guest_passthrough /dev/input/eventN
#include <fcntl.h>
#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace {
volatile std::sig_atomic_t stopping = 0;
void onSignal(int) { stopping = 1; }
}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s /dev/input/eventN\n", argv[0]);
        return 2;
    }
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigaction(SIGTERM, &sa, nullptr);
    const int fd = open(argv[1], O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    libevdev* dev = nullptr;
    libevdev_uinput* clone = nullptr;
    int r = fd < 0 ? -1 : libevdev_new_from_fd(fd, &dev);
    if (r >= 0) r = libevdev_grab(dev, LIBEVDEV_GRAB);
    if (r >= 0) r = libevdev_uinput_create_from_device(dev, LIBEVDEV_UINPUT_OPEN_MANAGED, &clone);
    if (r < 0) {
        std::fprintf(stderr, "passthrough: cannot set up %s\n", argv[1]);
        return 1;
    }
    input_event ev{};
    while (!stopping) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, -1) <= 0) continue;
        int status;
        while ((status = libevdev_next_event(dev, LIBEVDEV_READ_FLAG_NORMAL, &ev)) >= 0) {
            if (status == LIBEVDEV_READ_STATUS_SUCCESS) libevdev_uinput_write_event(clone, ev.type, ev.code, ev.value);
        }
        if (status != -EAGAIN) break;
    }
    libevdev_uinput_destroy(clone);
    libevdev_grab(dev, LIBEVDEV_UNGRAB);
    libevdev_free(dev);
    close(fd);
    return 0;
}
