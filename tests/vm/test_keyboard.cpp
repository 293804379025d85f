#include "tests/vm/test_keyboard.h"

#include <fcntl.h>
#include <linux/uhid.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <thread>

namespace vexa::guest {

std::vector<std::uint8_t> bootKeyboardDescriptor() {
    return {
        0x05, 0x01,        // Usage Page (Generic Desktop)
        0x09, 0x06,        // Usage (Keyboard)
        0xA1, 0x01,        // Collection (Application)
        0x05, 0x07,        //   Usage Page (Keyboard/Keypad)
        0x19, 0xE0,        //   Usage Minimum (Left Control)
        0x29, 0xE7,        //   Usage Maximum (Right GUI)
        0x15, 0x00,        //   Logical Minimum (0)
        0x25, 0x01,        //   Logical Maximum (1)
        0x75, 0x01,        //   Report Size (1)
        0x95, 0x08,        //   Report Count (8)
        0x81, 0x02,        //   Input (Data, Variable, Absolute): modifiers
        0x95, 0x01,        //   Report Count (1)
        0x75, 0x08,        //   Report Size (8)
        0x81, 0x01,        //   Input (Constant): reserved byte
        0x05, 0x08,        //   Usage Page (LEDs)
        0x19, 0x01,        //   Usage Minimum (Num Lock)
        0x29, 0x05,        //   Usage Maximum (Kana)
        0x95, 0x05,        //   Report Count (5)
        0x75, 0x01,        //   Report Size (1)
        0x91, 0x02,        //   Output (Data, Variable, Absolute): LEDs
        0x95, 0x01,        //   Report Count (1)
        0x75, 0x03,        //   Report Size (3)
        0x91, 0x01,        //   Output (Constant): padding
        0x05, 0x07,        //   Usage Page (Keyboard/Keypad)
        0x19, 0x00,        //   Usage Minimum (0)
        0x2A, 0xFF, 0x00,  //   Usage Maximum (0xFF)
        0x15, 0x00,        //   Logical Minimum (0)
        0x26, 0xFF, 0x00,  //   Logical Maximum (0xFF)
        0x95, 0x06,        //   Report Count (6)
        0x75, 0x08,        //   Report Size (8)
        0x81, 0x00,        //   Input (Data, Array): keys
        0xC0,              // End Collection
    };
}

std::vector<std::uint8_t> consumerControlDescriptor() {
    return {
        0x05, 0x0C,        // Usage Page (Consumer)
        0x09, 0x01,        // Usage (Consumer Control)
        0xA1, 0x01,        // Collection (Application)
        0x75, 0x08,        //   Report Size (8)
        0x95, 0x02,        //   Report Count (2)
        0x81, 0x01,        //   Input (Constant): two bytes
        0x19, 0x00,        //   Usage Minimum (0)
        0x2A, 0xFF, 0x00,  //   Usage Maximum (0xFF)
        0x15, 0x00,        //   Logical Minimum (0)
        0x26, 0xFF, 0x00,  //   Logical Maximum (0xFF)
        0x95, 0x06,        //   Report Count (6)
        0x81, 0x00,        //   Input (Data, Array): consumer usages
        0xC0,              // End Collection
    };
}

const KeyboardDescription kOrlaANSI{"Vexa Orla ANSI", 1278, 6, bootKeyboardDescriptor()};
const KeyboardDescription kOrlaANSIMedia{"Vexa Orla ANSI Consumer Control", 1278, 6, consumerControlDescriptor()};
const KeyboardDescription kOrlaJIS{"Vexa Orla JIS", 1278, 7, bootKeyboardDescriptor()};
const KeyboardDescription kOrlaJISOld{"Vexa Orla JIS", 1138, 104, bootKeyboardDescriptor()};
const KeyboardDescription kOtherKeyboard{"Other Keyboard", 0x1234, 0x5678, bootKeyboardDescriptor()};

bool TestKeyboard::press(std::uint8_t usage) {
    down_.insert(usage);
    return sendState();
}

bool TestKeyboard::release(std::uint8_t usage) {
    down_.erase(usage);
    return sendState();
}

bool TestKeyboard::releaseAll() {
    down_.clear();
    return sendState();
}

bool TestKeyboard::sendState() {
    std::uint8_t report[8] = {};
    int slot = 2;
    for (std::uint8_t usage : down_) {
        if (usage >= 0xE0 && usage <= 0xE7) {
            report[0] |= static_cast<std::uint8_t>(1u << (usage - 0xE0));
        } else if (slot < 8) {
            report[slot++] = usage;
        }
    }
    return sendReport(report);
}

namespace {

class UhidKeyboard : public TestKeyboard {
public:
    explicit UhidKeyboard(const KeyboardDescription& d) : TestKeyboard(d) {}
    ~UhidKeyboard() override {
        if (fd_ >= 0) {
            uhid_event ev{};
            ev.type = UHID_DESTROY;
            (void)!write(fd_, &ev, sizeof ev);
            close(fd_);
        }
    }

    bool create() {
        fd_ = open("/dev/uhid", O_RDWR | O_CLOEXEC | O_NONBLOCK);
        if (fd_ < 0) {
            std::fprintf(stderr, "uhid: cannot open /dev/uhid: %s\n", std::strerror(errno));
            return false;
        }
        uhid_event ev{};
        ev.type = UHID_CREATE2;
        std::snprintf(reinterpret_cast<char*>(ev.u.create2.name), sizeof ev.u.create2.name, "%s",
                      description.name.c_str());
        std::snprintf(reinterpret_cast<char*>(ev.u.create2.phys), sizeof ev.u.create2.phys, "vexa-guest/uhid");
        ev.u.create2.rd_size = static_cast<std::uint16_t>(description.reportDescriptor.size());
        ev.u.create2.bus = 0x03;  // BUS_USB
        ev.u.create2.vendor = description.vendor;
        ev.u.create2.product = description.product;
        ev.u.create2.version = 0x0111;
        std::memcpy(ev.u.create2.rd_data, description.reportDescriptor.data(), description.reportDescriptor.size());
        if (write(fd_, &ev, sizeof ev) != static_cast<ssize_t>(sizeof ev)) {
            std::fprintf(stderr, "uhid: create failed: %s\n", std::strerror(errno));
            return false;
        }
        return true;
    }

    bool sendReport(const std::uint8_t* report) override {
        pump(0);
        uhid_event ev{};
        ev.type = UHID_INPUT2;
        ev.u.input2.size = 8;
        std::memcpy(ev.u.input2.data, report, 8);
        return write(fd_, &ev, sizeof ev) == static_cast<ssize_t>(sizeof ev);
    }

    void pump(int timeoutMs) override {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0) return;
        uhid_event ev{};
        while (read(fd_, &ev, sizeof ev) > 0) {
            uhid_event reply{};
            switch (ev.type) {
            case UHID_OUTPUT:
                if (ev.u.output.size >= 1) led_ = ev.u.output.data[0];
                break;
            case UHID_GET_REPORT:
                reply.type = UHID_GET_REPORT_REPLY;
                reply.u.get_report_reply.id = ev.u.get_report.id;
                reply.u.get_report_reply.err = 0;
                reply.u.get_report_reply.size = 8;
                (void)!write(fd_, &reply, sizeof reply);
                break;
            case UHID_SET_REPORT:
                if (ev.u.set_report.size >= 1) led_ = ev.u.set_report.data[0];
                reply.type = UHID_SET_REPORT_REPLY;
                reply.u.set_report_reply.id = ev.u.set_report.id;
                reply.u.set_report_reply.err = 0;
                (void)!write(fd_, &reply, sizeof reply);
                break;
            default:
                break;
            }
        }
    }

private:
    int fd_ = -1;
};

bool writeFile(const std::string& path, const std::string& content) {
    std::ofstream f(path, std::ios::binary);
    f << content;
    f.close();
    if (!f) {
        std::fprintf(stderr, "gadget: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

std::string hex4(unsigned v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%04x", v);
    return buf;
}

// A USB HID gadget in configfs, bound to the dummy UDC: the kernel's USB
// host side sees it as a real USB keyboard.
class GadgetKeyboard : public TestKeyboard {
public:
    GadgetKeyboard(const KeyboardDescription& d, GadgetOptions options)
        : TestKeyboard(d),
          options_(options),
          root_("/sys/kernel/config/usb_gadget/vexa" + (options.udc != 0 ? std::to_string(options.udc) : "")) {}
    ~GadgetKeyboard() override {
        if (fd_ >= 0) close(fd_);
        writeFile(root_ + "/UDC", "\n");
        unlink((root_ + "/configs/c.1/hid.usb0").c_str());
        rmdir((root_ + "/configs/c.1/strings/0x409").c_str());
        rmdir((root_ + "/configs/c.1").c_str());
        rmdir((root_ + "/functions/hid.usb0").c_str());
        rmdir((root_ + "/strings/0x409").c_str());
        rmdir(root_.c_str());
    }

    bool create() {
        const std::string& r = root_;
        if (mkdir(r.c_str(), 0755) < 0 && errno != EEXIST) {
            std::fprintf(stderr, "gadget: cannot create %s: %s\n", r.c_str(), std::strerror(errno));
            return false;
        }
        bool ok = writeFile(r + "/idVendor", hex4(description.vendor)) &&
                  writeFile(r + "/idProduct", hex4(description.product)) && writeFile(r + "/bcdUSB", "0x0200") &&
                  writeFile(r + "/bcdDevice", "0x0111");
        if (ok && options_.deviceClass != 0) {
            ok = writeFile(r + "/bDeviceClass", hex4(options_.deviceClass)) &&
                 writeFile(r + "/bDeviceSubClass", "0x02") && writeFile(r + "/bDeviceProtocol", "0x01");
        }
        ok = ok && mkdir((r + "/strings/0x409").c_str(), 0755) == 0 &&
             writeFile(r + "/strings/0x409/manufacturer", kManufacturer) &&
             writeFile(r + "/strings/0x409/product", description.name) &&
             writeFile(r + "/strings/0x409/serialnumber", "guest");
        ok = ok && mkdir((r + "/functions/hid.usb0").c_str(), 0755) == 0 &&
             writeFile(r + "/functions/hid.usb0/protocol", "1") &&
             writeFile(r + "/functions/hid.usb0/subclass", "1") &&
             writeFile(r + "/functions/hid.usb0/report_length", "8") &&
             writeFile(r + "/functions/hid.usb0/report_desc",
                       std::string(description.reportDescriptor.begin(), description.reportDescriptor.end()));
        ok = ok && mkdir((r + "/configs/c.1").c_str(), 0755) == 0 &&
             mkdir((r + "/configs/c.1/strings/0x409").c_str(), 0755) == 0 &&
             writeFile(r + "/configs/c.1/strings/0x409/configuration", "keyboard") &&
             symlink((r + "/functions/hid.usb0").c_str(), (r + "/configs/c.1/hid.usb0").c_str()) == 0;
        ok = ok && writeFile(r + "/UDC", "dummy_udc." + std::to_string(options_.udc));
        if (!ok) return false;
        // The function's node is /dev/hidg<minor>, its minor in "dev" ("major:minor").
        std::string dev;
        std::getline(std::ifstream(r + "/functions/hid.usb0/dev"), dev);
        const std::string node = "/dev/hidg" + dev.substr(dev.find(':') + 1);
        for (int i = 0; i < 200 && fd_ < 0; ++i) {
            fd_ = open(node.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
            if (fd_ < 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (fd_ < 0) std::fprintf(stderr, "gadget: %s did not appear\n", node.c_str());
        return fd_ >= 0;
    }

    // The USB HID driver names the device "manufacturer product".
    std::string inputName() const override { return std::string(kManufacturer) + " " + description.name; }

    bool sendReport(const std::uint8_t* report) override {
        pump(0);
        // The host polls the interrupt endpoint; a full queue means wait.
        for (int i = 0; i < 200; ++i) {
            if (write(fd_, report, 8) == 8) return true;
            if (errno != EAGAIN) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return false;
    }

    void pump(int timeoutMs) override {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0) return;
        std::uint8_t buf[64];
        ssize_t n;
        while ((n = read(fd_, buf, sizeof buf)) > 0) led_ = buf[0];
    }

private:
    static constexpr char kManufacturer[] = "Vexa";
    GadgetOptions options_;
    std::string root_;
    int fd_ = -1;
};

}  // namespace

std::unique_ptr<TestKeyboard> plugUhidKeyboard(const KeyboardDescription& d) {
    auto kb = std::make_unique<UhidKeyboard>(d);
    if (!kb->create()) return nullptr;
    return kb;
}

std::unique_ptr<TestKeyboard> plugGadgetKeyboard(const KeyboardDescription& d, GadgetOptions options) {
    auto kb = std::make_unique<GadgetKeyboard>(d, options);
    if (!kb->create()) return nullptr;
    return kb;
}

}  // namespace vexa::guest
