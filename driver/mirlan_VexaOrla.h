// The key event filter driver: one instance per keyboard node. Every key
// event of usage page 7 goes through the instance's table; the table starts
// as the keyboard type's default and is replaced through setProperties.
#pragma once

#include <cstdint>

#include "keymap/keymap.h"
#include "platform/input/hid_event_driver.h"

class mirlan_VexaOrla : public vexa::IOHIDEventDriver {
public:
    // Takes a 256-byte "VexaKeyMap" as the new table and removes the key;
    // the rest of the dictionary goes to the base, whose status is returned.
    vexa::IOReturn setProperties(vexa::PropertyDictionary* properties) override;
    // Starts the base and writes the keyboard type's default table, even
    // when the base fails; returns the base's result.
    bool handleStart(vexa::InputProvider* provider) override;
    // Sends the event on as the table says: unchanged, remapped, dropped
    // (table value 0) or as consumer Eject (table value 111).
    void dispatchKeyboardEvent(std::uint64_t timeStamp, std::uint32_t usagePage, std::uint32_t usage,
                               std::uint32_t value, std::uint32_t options) override;

    // The active table: index = page 7 usage of the key, value = usage sent.
    Keymap keymap;
};
