// The HID event driver of one keyboard node, on evdev and uinput: the base
// class that a keyboard filter derives from.
//
// handleStart opens the evdev node, creates a virtual keyboard (uinput)
// cloned from it and grabs the node once none of its keys is down, so that
// no key is left pressed in the system. From then on every key event of
// the node reaches dispatchKeyboardEvent with its HID usage page and usage;
// the base implementation sends it to the virtual keyboard, and a release
// always sends what the press of the same physical key sent (see
// KeyEventPipeline). LED changes that the system writes to the virtual
// keyboard go on to the real one. Destruction releases every key still
// down on the virtual keyboard, the grab and the virtual keyboard.
#pragma once

#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "platform/glue/owners.h"
#include "platform/input/input_loop.h"
#include "platform/input/key_event_pipeline.h"

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
    InputLoop* loop = nullptr;
};

using EvdevPtr = std::unique_ptr<libevdev, Unrefer<&libevdev_free>>;
using UinputPtr = std::unique_ptr<libevdev_uinput, Unrefer<&libevdev_uinput_destroy>>;

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

    // Called once when the node stops delivering events, with the errno
    // that ended it (ENODEV: the keyboard went away); the owner destroys the
    // instance from there on.
    void setTerminationHandler(std::function<void(int error)> handler) { onTerminated_ = std::move(handler); }
    bool isGrabbed() const { return grabbed_; }

    // Events read from the keyboard while the driver holds it, in order: the
    // device glue calls this for every read. A SYN_DROPPED among them is
    // resolved with the keyboard's key state (all up without a device).
    void handleKeyboardEvents(const input_event* events, std::size_t count);
    // Sends the instance's output to `sink` instead of the virtual keyboard,
    // so that a host test can run a driver without devices; nullptr undoes it.
    void redirectOutput(KeyEventSink* sink) { redirect_ = sink; }

private:
    void writeEvents(const input_event* events, std::size_t count) override;
    void dispatchKey(std::uint64_t timeStampNs, std::uint32_t usagePage, std::uint32_t usage,
                     std::uint32_t value) override;
    KeyBits keyboardKeyState() override;

    static void onKeyboardReadable(void* self);
    static void onVirtualReadable(void* self);
    static int onGrabRetry(sd_event_source*, std::uint64_t, void* self);
    void readKeyboard();
    void readVirtual();
    void tryGrab();
    void retryGrabLater(bool heldByAnother = true);
    // The keyboard's key state (EVIOCGKEY); all up when it cannot be read.
    // The kernel drops the key events still queued for this reader.
    KeyBits keyState() const;
    void terminate(int error);
    void unwatch();
    void stop();

    KeyEventPipeline pipeline_;
    KeyEventSink* redirect_ = nullptr;
    Fd keyboard_;
    Fd uinputFd_;
    EvdevPtr dev_;
    UinputPtr uinput_;
    EventSourcePtr grabRetry_;
    InputLoop* loop_ = nullptr;
    bool watching_ = false;  // the loop polls keyboard_ and uinputFd_
    bool grabbed_ = false;
    bool terminated_ = false;
    bool writeFailed_ = false;
    std::string devnode_;
    std::function<void(int)> onTerminated_;
};

}  // namespace vexa
