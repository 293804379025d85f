#include "driver/mirlan_VexaOrla.h"

#include <cstring>
#include <string_view>

#include "driver/bus_names.h"
#include "driver/key_filter.h"

vexa::IOReturn mirlan_VexaOrla::setProperties(vexa::PropertyDictionary* properties) {
    if (properties != nullptr) {
        auto it = properties->find(vexa::driverbus::kKeymapProperty);
        if (it != properties->end()) {
            const auto* data = std::get_if<std::vector<std::uint8_t>>(&it->second);
            if (data != nullptr && data->size() == sizeof keymap) {
                std::memcpy(keymap, data->data(), sizeof keymap);
                properties->erase(it);
            }
        }
    }
    return IOHIDEventDriver::setProperties(properties);
}

bool mirlan_VexaOrla::handleStart(vexa::InputProvider* provider) {
    const bool started = IOHIDEventDriver::handleStart(provider);
    const KeymapType type = KZ714keymapType(getVendorID(), getProductID());
    if (type != nullptr && std::string_view(type) == KZ714_TYPE_JIS) {
        KZ714defaultOrlaJISKeymap(keymap);
    } else {
        KZ714defaultOrlaANSIKeymap(keymap);
    }
    return started;
}

// Presses and releases alike go through the table. A release needs no care
// here for a table swapped while its key was held: the base class records
// what each press of a physical key sent and sends exactly that on the key's
// release, whatever this function answers for it (KeyEventPipeline in
// platform/input/key_event_pipeline.h).
void mirlan_VexaOrla::dispatchKeyboardEvent(std::uint64_t timeStamp, std::uint32_t usagePage, std::uint32_t usage,
                                            std::uint32_t value, std::uint32_t options) {
    const auto out = vexa::filterKeyboardEvent(keymap, {usagePage, usage});
    if (!out) return;
    IOHIDEventDriver::dispatchKeyboardEvent(timeStamp, out->page, out->usage, value, options);
}
