// Module 722: tells a client when driver instances (objects of class
// "mirlan_VexaOrla") appear or go, and reads an instance's USB vendor and
// product numbers.
//
// The client keeps a record slot (a DeviceNotifyInfo* of its own, null
// while nothing is installed) and passes its address in. Installing calls
// the client at once with every instance already present; later
// notifications arrive on the thread's default sd-event loop. A client
// method must drain the iterator it is given (iteratorNext until 0,
// releasing each entry): a notification whose iterator was not drained
// stays silent. The iterators stay the record's.
#pragma once

#include <cstdint>
#include <memory>

#include "errors/error_stack.h"
#include "platform/registry/registry.h"

// What a client of the driver notifications takes. A client that does not
// take a kind gets no notification of it.
class DeviceNotifyClient {
public:
    virtual ~DeviceNotifyClient() = default;
    virtual bool takesDeviceAddedNotify() const { return false; }
    virtual bool takesDeviceRemovedNotify() const { return false; }
    // Driver instances may have appeared.
    virtual void deviceAddedNotify(std::uint32_t iterator) { (void)iterator; }
    // Driver instances may have gone.
    virtual void deviceRemovedNotify(std::uint32_t iterator) { (void)iterator; }
};

// The notify info record.
struct DeviceNotifyInfo {
    DeviceNotifyClient* client = nullptr;
    std::uint32_t addedIterator = 0;    // 0 when the client takes no added-notifications
    std::uint32_t removedIterator = 0;  // 0 when the client takes no removed-notifications
    std::unique_ptr<vexa::registry::NotificationPort> port;
};

enum : ErrorCode {
    KZ722_ERR_NO_CLIENT = 7220024,         // client or record slot address is null
    KZ722_ERR_NO_PORT = 7220028,           // the notification port could not be created
    KZ722_ERR_NO_LOOP_SOURCE = 7220032,    // the port could not be attached to the event loop
    KZ722_ERR_ADD_FIRST_MATCH = 7220045,   // the first-match notification could not be added
    KZ722_ERR_ADD_TERMINATE = 7220058,     // the terminate notification could not be added
    KZ722_ERR_NO_RECORD = 7220067,         // the record could not be created
    KZ722_ERR_NO_ENTRY = 7220129,          // registry entry handle is 0
    KZ722_ERR_NO_VENDOR_ID = 7220135,      // the entry has no "VendorID" property
    KZ722_ERR_NO_PRODUCT_ID = 7220144,     // the entry has no "ProductID" property
};

// Installs the notifications the client takes. On success `*slot` holds the
// new record and the client has been called once for each kind it takes.
// A failure leaves nothing behind (the bus status is on the error stack
// with 7220045 and 7220058), except one: a driver that runs but fails to
// list its instances. Then the notifications are installed all the same
// (`*slot` holds the record, to be removed as usual), 7220045 is returned
// with the bus status pushed, and the instances are delivered when the
// driver next starts or announces one.
ErrorCode KZ722installDeviceNotify(DeviceNotifyClient* client, DeviceNotifyInfo** slot);

// The notification callback of both kinds: `refcon` is the record slot's
// address; the client is offered the added iterator, then the removed one.
// `iterator` is not looked at.
void KZ722deviceNotify(void* refcon, std::uint32_t iterator);

// Releases both iterators, detaches and destroys the port, and the record.
// Null does nothing. The caller clears its slot afterwards.
void KZ722removeDeviceNotify(DeviceNotifyInfo* info);

// Fills each output place that is not null from the record.
void KZ722getNotifyInfo(const DeviceNotifyInfo* info, DeviceNotifyClient** client, std::uint32_t* addedIterator,
                        std::uint32_t* removedIterator, vexa::registry::NotificationPort** port);

// Reads "VendorID" and/or "ProductID" of a driver instance into the places
// that are given (as signed 32-bit values). A missing vendor leaves the
// vendor at 0 and does not read the product.
ErrorCode KZ722getRegistryInfo(std::uint32_t entry, std::uint32_t* vendor, std::uint32_t* product);
