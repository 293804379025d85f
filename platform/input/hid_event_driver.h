// The HID event driver of one keyboard node, on evdev and uinput: the base
// class that a keyboard filter derives from.
//
// handleStart opens the evdev node, creates a virtual keyboard (uinput)
// cloned from it and grabs the node once none of its keys is down, so that
// no key is left pressed in the system. From then on every key event of
// the node reaches dispatchKeyboardEvent with its HID usage page and usage;
// the base implementation writes it to the virtual keyboard. LED changes
// that the system writes to the virtual keyboard go on to the real one.
// Destruction releases the grab and removes the virtual keyboard.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <variant>
#include <vector>

#include "platform/input/key_event_pipeline.h"

struct libevdev;
struct libevdev_uinput;
struct sd_event;
struct sd_event_source;

namespace vexa {

// 0 or a negative errno.
using IOReturn = std::int32_t;

// A property value as set from outside: data, text, number, truth value, or
// a value of another type that this layer does not carry.
using PropertyValue = std::variant<std::monostate, std::vector<std::uint8_t>, std::string, std::int64_t, bool>;
using PropertyDictionary = std::map<std::string, PropertyValue>;

// What a driver instance is started on: the evdev node and the loop it runs on.
struct InputProvider {
    std::string devnode;
    sd_event* loop = nullptr;
};

class IOHIDEventDriver : private KeyEventSink, private KeyDispatcher {
public:
    IOHIDEventDriver();
    virtual ~IOHIDEventDriver();
    IOHIDEventDriver(const IOHIDEventDriver&) = delete;
    IOHIDEventDriver& operator=(const IOHIDEventDriver&) = delete;

    // Opens the node, creates the virtual keyboard and starts reading; the
    // grab follows as soon as no key is down. False (with a message on
    // stderr) when the node or uinput cannot be used.
    virtual bool handleStart(InputProvider* provider);
    // The node's input id; 0 before a successful open.
    virtual std::int32_t getVendorID() const;
    virtual std::int32_t getProductID() const;
    // Sends one key event to the system.
    virtual void dispatchKeyboardEvent(std::uint64_t timeStamp, std::uint32_t usagePage, std::uint32_t usage,
                                       std::uint32_t value, std::uint32_t options);
    // Handles the keys that a subclass left: success for an empty
    // dictionary, -EOPNOTSUPP when keys remain, -EINVAL for none at all.
    virtual IOReturn setProperties(PropertyDictionary* properties);

    // Called once when the node stops delivering events (unplugged, or a
    // read error); the owner destroys the instance from there on.
    void setTerminationHandler(std::function<void()> handler) { onTerminated_ = std::move(handler); }
    bool isGrabbed() const { return grabbed_; }
    // sysfs path of the virtual keyboard's input device, or "".
    std::string virtualSyspath() const;

private:
    void writeEvent(std::uint16_t type, std::uint16_t code, std::int32_t value) override;
    void dispatchKey(std::uint64_t timeStampNs, std::uint32_t usagePage, std::uint32_t usage,
                     std::uint32_t value) override;

    static int onKeyboardReadable(sd_event_source*, int, std::uint32_t, void* self);
    static int onVirtualReadable(sd_event_source*, int, std::uint32_t, void* self);
    static int onGrabRetry(sd_event_source*, std::uint64_t, void* self);
    void readKeyboard();
    void readVirtual();
    void tryGrab();
    bool anyKeyDown() const;
    void terminate(int error);
    void stop();

    KeyEventPipeline pipeline_;
    int fd_ = -1;
    int uinputFd_ = -1;
    libevdev* dev_ = nullptr;
    libevdev_uinput* uinput_ = nullptr;
    sd_event_source* keyboardSource_ = nullptr;
    sd_event_source* virtualSource_ = nullptr;
    sd_event_source* grabRetry_ = nullptr;
    sd_event* loop_ = nullptr;
    bool grabbed_ = false;
    std::uint64_t grabTimeNs_ = 0;
    bool terminated_ = false;
    std::string devnode_;
    std::function<void()> onTerminated_;
};

}  // namespace vexa
