// The latency benchmark's baseline: grab a keyboard node, clone it on
// uinput and copy every event unchanged, each batch read with one read and
// written with one write; no table, no bus, no event loop. Stops on SIGTERM.
//   vexa_guest_passthrough /dev/input/eventN
#include <fcntl.h>
#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>

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
    if (r >= 0) r = ioctl(fd, EVIOCGRAB, 1);
    if (r >= 0) r = libevdev_uinput_create_from_device(dev, LIBEVDEV_UINPUT_OPEN_MANAGED, &clone);
    if (r < 0) {
        std::fprintf(stderr, "passthrough: cannot set up %s\n", argv[1]);
        return 1;
    }
    const int out = libevdev_uinput_get_fd(clone);
    input_event batch[64];
    while (!stopping) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, -1) <= 0) continue;
        const ssize_t n = read(fd, batch, sizeof batch);
        if (n < 0 && errno != EAGAIN && errno != EINTR) break;
        if (n > 0) (void)!write(out, batch, static_cast<std::size_t>(n));
    }
    libevdev_uinput_destroy(clone);
    ioctl(fd, EVIOCGRAB, 0);
    libevdev_free(dev);
    close(fd);
    return 0;
}
