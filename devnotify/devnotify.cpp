#include "devnotify/devnotify.h"

#include <new>

#include "driver/bus_names.h"

namespace reg = vexa::registry;

namespace {

reg::Matching driverInstances() { return reg::Matching{vexa::driverbus::kDriverClass, std::nullopt}; }

// Adds one notification; a failure pushes the bus status and returns `code`.
ErrorCode addNotification(reg::NotificationPort& port, reg::NotificationType type, DeviceNotifyInfo** slot,
                          std::uint32_t* iterator, ErrorCode code) {
    const int r = port.addMatchingNotification(type, driverInstances(), KZ722deviceNotify, slot, iterator);
    if (r < 0) {
        KZ710stackError(nullptr, r);
        return code;
    }
    return 0;
}

}  // namespace

ErrorCode KZ722installDeviceNotify(DeviceNotifyClient* client, DeviceNotifyInfo** slot) {
    if (client == nullptr || slot == nullptr) return KZ722_ERR_NO_CLIENT;
    std::unique_ptr<reg::NotificationPort> port = reg::NotificationPort::create();
    if (!port) return KZ722_ERR_NO_PORT;
    if (port->attachToDefaultLoop() < 0) return KZ722_ERR_NO_LOOP_SOURCE;

    // Iterators made before a later step fails are released with the port.
    std::uint32_t added = 0, removed = 0;
    auto releaseIterators = [&] {
        if (added != 0) reg::objectRelease(added);
        if (removed != 0) reg::objectRelease(removed);
    };
    ErrorCode r = 0;
    int listing = 0;  // how listing the instances already present went
    if (client->takesDeviceAddedNotify()) {
        r = addNotification(*port, reg::NotificationType::FirstMatch, slot, &added, KZ722_ERR_ADD_FIRST_MATCH);
        listing = port->listingStatus();
    }
    if (r == 0 && client->takesDeviceRemovedNotify()) {
        r = addNotification(*port, reg::NotificationType::Terminate, slot, &removed, KZ722_ERR_ADD_TERMINATE);
    }
    if (r != 0) {
        releaseIterators();
        return r;
    }
    auto* info = new (std::nothrow) DeviceNotifyInfo{client, added, removed, std::move(port)};
    if (info == nullptr) {
        releaseIterators();
        return KZ722_ERR_NO_RECORD;
    }
    *slot = info;
    // Hands every present instance to the client, which arms the notifications.
    KZ722deviceNotify(slot, 0);
    if (listing < 0) {
        // The driver runs but did not list its instances. The notifications
        // stay: the instances come when it next starts or announces one.
        KZ710stackError(nullptr, listing);
        return KZ722_ERR_ADD_FIRST_MATCH;
    }
    return 0;
}

void KZ722deviceNotify(void* refcon, std::uint32_t) {
    auto* slot = static_cast<DeviceNotifyInfo**>(refcon);
    if (slot == nullptr || *slot == nullptr) return;
    DeviceNotifyInfo* info = *slot;
    if (info->addedIterator != 0) info->client->deviceAddedNotify(info->addedIterator);
    // The client may have removed the notifications meanwhile.
    if (*slot == info && info->removedIterator != 0) info->client->deviceRemovedNotify(info->removedIterator);
}

void KZ722removeDeviceNotify(DeviceNotifyInfo* info) {
    if (info == nullptr) return;
    if (info->addedIterator != 0) reg::objectRelease(info->addedIterator);
    if (info->removedIterator != 0) reg::objectRelease(info->removedIterator);
    delete info;  // the port goes with it, detached from the loop
}

void KZ722getNotifyInfo(const DeviceNotifyInfo* info, DeviceNotifyClient** client, std::uint32_t* addedIterator,
                        std::uint32_t* removedIterator, reg::NotificationPort** port) {
    if (info == nullptr) return;
    if (client != nullptr) *client = info->client;
    if (addedIterator != nullptr) *addedIterator = info->addedIterator;
    if (removedIterator != nullptr) *removedIterator = info->removedIterator;
    if (port != nullptr) *port = info->port.get();
}

ErrorCode KZ722getRegistryInfo(std::uint32_t entry, std::uint32_t* vendor, std::uint32_t* product) {
    if (entry == 0) return KZ722_ERR_NO_ENTRY;
    if (vendor != nullptr) {
        *vendor = 0;
        const auto value = reg::entryIntegerProperty(entry, vexa::driverbus::kVendorIDProperty);
        if (!value) return KZ722_ERR_NO_VENDOR_ID;
        *vendor = static_cast<std::uint32_t>(static_cast<std::int32_t>(*value));
    }
    if (product != nullptr) {
        *product = 0;
        const auto value = reg::entryIntegerProperty(entry, vexa::driverbus::kProductIDProperty);
        if (!value) return KZ722_ERR_NO_PRODUCT_ID;
        *product = static_cast<std::uint32_t>(static_cast<std::int32_t>(*value));
    }
    return 0;
}
