#include "platform/hid/hid_manager.h"

#include <fcntl.h>
#include <systemd/sd-device.h>
#include <systemd/sd-event.h>
#include <unistd.h>

#include <array>
#include <cerrno>

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include "platform/files/file_io.h"
#include "platform/glue/log.h"

namespace vexa::hid {

namespace {

constexpr char kVendorIdKey[] = "VendorID";
constexpr char kProductIdKey[] = "ProductID";

std::string textOf(int (*get)(sd_device*, const char**), sd_device* device) {
    const char* value = nullptr;
    if (get(device, &value) < 0 || value == nullptr) return {};
    return value;
}

}  // namespace

// ---- Device

Device::Device(std::string syspath, std::string devnode, DeviceFacts facts, ReportDescriptor descriptor)
    : syspath_(std::move(syspath)), devnode_(std::move(devnode)), facts_(std::move(facts)),
      decoder_(std::move(descriptor)) {}

Device::~Device() = default;

std::optional<std::int64_t> Device::property(std::string_view key) const {
    if (key == kVendorIdKey) return facts_.vendorId;
    if (key == kProductIdKey) return facts_.productId;
    const auto it = properties_.find(key);
    if (it == properties_.end()) return std::nullopt;
    return it->second;
}

bool Device::setProperty(std::string_view key, std::int64_t value) {
    if (key == kVendorIdKey || key == kProductIdKey) return false;
    properties_.insert_or_assign(std::string(key), value);
    return true;
}

ErrorCode Device::open() {
    if (fd_) return 0;
    Fd fd(::open(devnode_.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd) return -errno;
    fd_ = std::move(fd);
    updateNotifier();
    return 0;
}

bool Device::checkAccess() const { return mayReadNode(devnode_); }

void Device::registerInputValueCallback(InputValueCallback callback, void* context) {
    inputCallback_ = callback;
    inputContext_ = context;
}

void Device::scheduleWithRunLoop() {
    scheduled_ = true;
    updateNotifier();
}

void Device::unscheduleFromRunLoop() {
    scheduled_ = false;
    updateNotifier();
}

void Device::updateNotifier() {
    const bool wanted = scheduled_ && fd_;
    if (wanted && !notifier_) {
        notifier_ = std::make_unique<QSocketNotifier>(fd_.get(), QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] { readReports(); });
    } else if (!wanted && notifier_) {
        // The notifier may be the one whose signal is running: let the loop delete it.
        notifier_->setEnabled(false);
        notifier_.release()->deleteLater();
    }
}

void Device::close() {
    scheduled_ = false;
    updateNotifier();
    fd_.reset();
}

void Device::readReports() {
    // One read returns one report, the report ID byte first when the device uses IDs.
    std::array<std::uint8_t, kMaxReportBytes + 1> report;
    std::vector<InputValue> values;
    for (;;) {
        const ssize_t n = ::read(fd_.get(), report.data(), report.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) return;
        if (n <= 0) {
            // The device has gone (EIO, ENODEV); udev's removal follows.
            if (n < 0) logErrno(-errno, SD_INFO "%s: no more input", devnode_.c_str());
            if (releaseAll()) close();
            return;
        }
        values.clear();
        decoder_.decode(std::span(report.data(), static_cast<std::size_t>(n)), values);
        if (!deliver(values)) return;
    }
}

bool Device::deliver(const std::vector<InputValue>& values) {
    const std::weak_ptr<int> alive = alive_;
    for (const InputValue& v : values) {
        if (inputCallback_ == nullptr) break;
        inputCallback_(inputContext_, 0, this, v);
        if (alive.expired() || !fd_) return false;  // the callback ended the device or closed it
    }
    return true;
}

bool Device::releaseAll() {
    // Only a device that is listened to has told anyone of keys down.
    if (!fd_ || !scheduled_) return true;
    std::vector<InputValue> values;
    decoder_.releaseAll(values);
    return deliver(values);
}

bool mayReadNode(const std::string& path) {
    if (::faccessat(AT_FDCWD, path.c_str(), R_OK, AT_EACCESS) == 0) return true;
    return errno != EACCES && errno != EPERM;
}

// ---- Manager

struct Manager::Watch {
    EventPtr event;
    DeviceMonitorPtr monitor;
    std::unique_ptr<QSocketNotifier> notifier;
    // udev events of one dispatch, handled once sd-event is out of the way.
    std::vector<std::pair<sd_device_action_t, DevicePtr>> pending;
};

Manager::Manager() : guard_(std::make_unique<QObject>()) {}

Manager::~Manager() { unscheduleFromRunLoop(); }

void Manager::setDeviceMatching(std::vector<DeviceMatching> matchings) { matchings_ = std::move(matchings); }

void Manager::registerDeviceMatchingCallback(DeviceCallback callback, void* context) {
    matchCallback_ = callback;
    matchContext_ = context;
}

void Manager::registerDeviceRemovalCallback(DeviceCallback callback, void* context) {
    removalCallback_ = callback;
    removalContext_ = context;
}

ErrorCode Manager::scheduleWithRunLoop() {
    if (watch_) return 0;
    auto watch = std::make_unique<Watch>();
    sd_event* event = nullptr;
    int r = sd_event_new(&event);
    if (r < 0) return logErrno(r, SD_ERR "HID manager: cannot create an event loop");
    watch->event.reset(event);
    sd_device_monitor* monitor = nullptr;
    r = sd_device_monitor_new(&monitor);
    if (r < 0) return logErrno(r, SD_ERR "HID manager: cannot watch udev");
    watch->monitor.reset(monitor);
    r = sd_device_monitor_filter_add_match_subsystem_devtype(monitor, "hidraw", nullptr);
    if (r < 0) return logErrno(r, SD_ERR "HID manager: cannot filter udev events");
    r = sd_device_monitor_attach_event(monitor, event);
    if (r < 0) return logErrno(r, SD_ERR "HID manager: cannot attach the udev monitor");
    r = sd_device_monitor_start(monitor, onUdevEvent, watch.get());
    if (r < 0) return logErrno(r, SD_ERR "HID manager: cannot start the udev monitor");
    const int fd = sd_event_get_fd(event);
    if (fd < 0) return logErrno(fd, SD_ERR "HID manager: no descriptor to wait on");
    watch->notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(watch->notifier.get(), &QSocketNotifier::activated, guard_.get(), [this] { dispatchUdev(); });

    // The devices present; the monitor already runs, so none is missed, and
    // one seen twice is taken once.
    sd_device_enumerator* e = nullptr;
    r = sd_device_enumerator_new(&e);
    DeviceEnumeratorPtr enumerator(e);
    if (r >= 0) r = sd_device_enumerator_add_match_subsystem(e, "hidraw", 1);
    if (r < 0) return logErrno(r, SD_ERR "HID manager: cannot list hidraw devices");
    watch_ = std::move(watch);
    for (sd_device* d = sd_device_enumerator_get_device_first(e); d; d = sd_device_enumerator_get_device_next(e))
        consider(d, false);
    QTimer::singleShot(0, guard_.get(), [this] { announcePending(); });
    return 0;
}

void Manager::unscheduleFromRunLoop() {
    watch_.reset();
    // Without the watch, removals would go unseen: the devices go now.
    devices_.clear();
}

std::vector<Device*> Manager::copyDevices() const {
    std::vector<Device*> all;
    all.reserve(devices_.size());
    for (const auto& [syspath, device] : devices_) all.push_back(device.get());
    return all;
}

Device* Manager::addDevice(std::unique_ptr<Device> device) {
    if (!device || devices_.count(device->syspath()) || !deviceMatchesAny(device->facts(), matchings_)) return nullptr;
    return keep(std::move(device), watch_ != nullptr);
}

int Manager::onUdevEvent(sd_device_monitor*, sd_device* device, void* userdata) {
    auto* watch = static_cast<Watch*>(userdata);
    sd_device_action_t action{};
    if (sd_device_get_action(device, &action) < 0) return 0;
    if (action == SD_DEVICE_ADD || action == SD_DEVICE_REMOVE) watch->pending.emplace_back(action, DevicePtr(sd_device_ref(device)));
    return 0;
}

void Manager::dispatchUdev() {
    if (!watch_) return;
    while (sd_event_run(watch_->event.get(), 0) > 0) {
    }
    const std::weak_ptr<int> alive = alive_;
    auto events = std::move(watch_->pending);
    watch_->pending.clear();
    for (auto& [action, device] : events) {
        if (action == SD_DEVICE_ADD) {
            consider(device.get(), true);
        } else {
            remove(textOf(sd_device_get_syspath, device.get()));
        }
        if (alive.expired() || !watch_) return;  // a callback ended the manager or the watch
    }
}

void Manager::consider(sd_device* hidraw, bool announceNow) {
    std::string syspath = textOf(sd_device_get_syspath, hidraw);
    std::string devnode = textOf(sd_device_get_devname, hidraw);
    if (syspath.empty() || devnode.empty() || devices_.count(syspath)) return;
    sd_device* hid = nullptr;
    if (sd_device_get_parent_with_subsystem_devtype(hidraw, "hid", nullptr, &hid) < 0) return;
    const char* hidId = nullptr;
    if (sd_device_get_property_value(hid, "HID_ID", &hidId) < 0 || hidId == nullptr) return;
    const auto id = parseHidId(hidId);
    if (!id) return;

    std::vector<std::uint8_t> bytes;
    int r = files::readRegularFile(textOf(sd_device_get_syspath, hid) + "/report_descriptor", bytes, kMaxDescriptorSize);
    if (r < 0) {
        logErrno(r, SD_WARNING "%s: cannot read the report descriptor", devnode.c_str());
        return;
    }
    ReportDescriptor descriptor;
    r = parseReportDescriptor(bytes, descriptor);
    if (r < 0) {
        logErrno(r, SD_WARNING "%s: unusable report descriptor", devnode.c_str());
        return;
    }
    DeviceFacts facts{id->vendorId, id->productId, descriptor.topLevelCollections};
    if (!deviceMatchesAny(facts, matchings_)) return;

    keep(std::make_unique<Device>(syspath, std::move(devnode), std::move(facts), std::move(descriptor)), announceNow);
}

Device* Manager::keep(std::unique_ptr<Device> device, bool announceNow) {
    Device* raw = device.get();
    devices_.emplace(raw->syspath(), std::move(device));
    if (announceNow) {
        raw->announced_ = true;
        if (matchCallback_) matchCallback_(matchContext_, 0, this, raw);
    }
    return raw;
}

void Manager::remove(const std::string& syspath) {
    auto it = devices_.find(syspath);
    if (it == devices_.end()) return;
    Device* device = it->second.get();
    const std::weak_ptr<int> alive = alive_;
    // Keys still down on a keyboard that is unplugged are up from now on.
    device->releaseAll();
    if (alive.expired()) return;
    it = devices_.find(syspath);
    if (it == devices_.end()) return;
    device = it->second.get();
    if (device->announced_ && removalCallback_) removalCallback_(removalContext_, 0, this, device);
    if (alive.expired()) return;
    devices_.erase(syspath);
}

void Manager::announcePending() {
    if (!watch_) return;
    const std::weak_ptr<int> alive = alive_;
    std::vector<std::string> pending;
    for (const auto& [syspath, device] : devices_) {
        if (!device->announced_) pending.push_back(syspath);
    }
    for (const std::string& syspath : pending) {
        const auto it = devices_.find(syspath);
        if (it == devices_.end() || it->second->announced_) continue;
        it->second->announced_ = true;
        if (matchCallback_) matchCallback_(matchContext_, 0, this, it->second.get());
        if (alive.expired() || !watch_) return;
    }
}

}  // namespace vexa::hid
