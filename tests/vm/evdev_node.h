// Finding and reading the guest's evdev nodes: a keyboard's own node (it
// has a HID parent) and the driver's virtual clone of it (a uinput device).
#pragma once

#include <linux/input.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vexa::guest {

enum class NodeKind { Keyboard, VirtualClone };

// Device nodes with this input id (and this device name, unless empty),
// newest first.
std::vector<std::string> findEventNodes(std::uint16_t vendor, std::uint16_t product, NodeKind kind,
                                        const std::string& name = "");
// Waits (calling `idle` between looks) until such a node exists; "" on timeout.
std::string waitForEventNode(std::uint16_t vendor, std::uint16_t product, NodeKind kind, int timeoutMs,
                             const std::function<void()>& idle = {}, const std::string& name = "");

class EvdevNode {
public:
    EvdevNode() = default;
    ~EvdevNode();
    EvdevNode(EvdevNode&& other) noexcept;
    EvdevNode& operator=(EvdevNode&& other) noexcept;

    bool open(const std::string& devnode);
    void close();
    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    const std::string& devnode() const { return devnode_; }
    // The next event, waiting up to timeoutMs; nothing on timeout or when
    // the node went away.
    std::optional<input_event> next(int timeoutMs);
    // True once a read found that the device is gone (ENODEV).
    bool lost() const { return lost_; }
    // Discards everything queued.
    void drain();
    // Writes one event followed by SYN_REPORT (as the system does for LEDs).
    bool write(std::uint16_t type, std::uint16_t code, std::int32_t value);
    // EVIOCGKEY: whether the device holds this key down now. The kernel
    // drops the key events queued for this node.
    bool keyDown(std::uint16_t code) const;
    // EVIOCGRAB: take or give up the node for this reader alone.
    bool grab(bool on);
    // EVIOCSREP: autorepeat delay and period in ms.
    bool setRepeat(int delayMs, int periodMs);

private:
    int fd_ = -1;
    bool lost_ = false;
    std::string devnode_;
};

}  // namespace vexa::guest
