#include "tests/vm/evdev_node.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <thread>

namespace vexa::guest {

namespace {

unsigned readHex(const std::string& path) {
    std::ifstream f(path);
    unsigned v = 0;
    f >> std::hex >> v;
    return f ? v : 0xFFFFFFFFu;
}

}  // namespace

std::vector<std::string> findEventNodes(std::uint16_t vendor, std::uint16_t product, NodeKind kind,
                                        const std::string& wantedName) {
    std::vector<std::pair<int, std::string>> found;
    DIR* dir = opendir("/sys/class/input");
    if (!dir) return {};
    while (dirent* e = readdir(dir)) {
        const std::string name = e->d_name;
        if (name.rfind("event", 0) != 0) continue;
        const std::string base = "/sys/class/input/" + name + "/device";
        if (readHex(base + "/id/vendor") != vendor || readHex(base + "/id/product") != product) continue;
        if (!wantedName.empty()) {
            std::ifstream nameFile(base + "/name");
            std::string deviceName;
            std::getline(nameFile, deviceName);
            if (deviceName != wantedName) continue;
        }
        char real[PATH_MAX];
        if (!realpath(base.c_str(), real)) continue;
        const bool clone = std::string(real).rfind("/sys/devices/virtual/input/", 0) == 0;
        if (clone != (kind == NodeKind::VirtualClone)) continue;
        found.emplace_back(std::atoi(name.c_str() + 5), "/dev/input/" + name);
    }
    closedir(dir);
    std::sort(found.rbegin(), found.rend());
    std::vector<std::string> nodes;
    for (auto& [n, path] : found) nodes.push_back(path);
    return nodes;
}

std::string waitForEventNode(std::uint16_t vendor, std::uint16_t product, NodeKind kind, int timeoutMs,
                             const std::function<void()>& idle, const std::string& name) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
        auto nodes = findEventNodes(vendor, product, kind, name);
        if (!nodes.empty() && access(nodes.front().c_str(), R_OK) == 0) return nodes.front();
        if (idle) idle();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (std::chrono::steady_clock::now() < end);
    return "";
}

EvdevNode::~EvdevNode() { close(); }

EvdevNode::EvdevNode(EvdevNode&& other) noexcept : fd_(other.fd_), devnode_(std::move(other.devnode_)) {
    other.fd_ = -1;
}

EvdevNode& EvdevNode::operator=(EvdevNode&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = other.fd_;
        devnode_ = std::move(other.devnode_);
        other.fd_ = -1;
    }
    return *this;
}

bool EvdevNode::open(const std::string& devnode) {
    close();
    fd_ = ::open(devnode.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) return false;
    lost_ = false;
    devnode_ = devnode;
    int clock = CLOCK_MONOTONIC;
    ioctl(fd_, EVIOCSCLOCKID, &clock);
    return true;
}

void EvdevNode::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

std::optional<input_event> EvdevNode::next(int timeoutMs) {
    if (fd_ < 0) return std::nullopt;
    input_event ev{};
    const auto readOne = [&] {
        if (read(fd_, &ev, sizeof ev) == static_cast<ssize_t>(sizeof ev)) return true;
        if (errno == ENODEV) lost_ = true;
        return false;
    };
    if (readOne()) return ev;
    if (lost_) return std::nullopt;
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return std::nullopt;
    if (readOne()) return ev;
    return std::nullopt;
}

void EvdevNode::drain() {
    while (next(0)) {
    }
}

bool EvdevNode::write(std::uint16_t type, std::uint16_t code, std::int32_t value) {
    input_event ev[2]{};
    ev[0].type = type;
    ev[0].code = code;
    ev[0].value = value;
    ev[1].type = EV_SYN;
    ev[1].code = SYN_REPORT;
    return ::write(fd_, ev, sizeof ev) == static_cast<ssize_t>(sizeof ev);
}

bool EvdevNode::keyDown(std::uint16_t code) const {
    unsigned char bits[KEY_MAX / 8 + 1] = {};
    if (fd_ < 0 || code > KEY_MAX || ioctl(fd_, EVIOCGKEY(sizeof bits), bits) < 0) return false;
    return (bits[code / 8] >> (code % 8)) & 1;
}

bool EvdevNode::grab(bool on) { return ioctl(fd_, EVIOCGRAB, on ? 1 : 0) == 0; }

bool EvdevNode::setRepeat(int delayMs, int periodMs) {
    unsigned rep[2] = {static_cast<unsigned>(delayMs), static_cast<unsigned>(periodMs)};
    return ioctl(fd_, EVIOCSREP, rep) == 0;
}

}  // namespace vexa::guest
