// The callbacks through which the HID manager reaches the editor's
// application object: a keyboard was matched, an input value arrived. The
// context is the application object (AppDelegateClass).
#pragma once

#include "editor/keymap_type_number.h"
#include "errors/error_stack.h"

namespace vexa::hid {
class Device;
struct InputValue;
}  // namespace vexa::hid

extern "C" {

// A keyboard of any make was matched; the two supported ones are tagged
// with their type ("VexaKeyMap") and registered for input.
void Device_Callback(void* context, ErrorCode result, void* sender, vexa::hid::Device* device);

// 1 for a Vexa Orla ANSI keyboard, 2 for a JIS one, 0 for any other device.
KeymapTypeNumber GetKeymapType_ForDevice(const vexa::hid::Device* device);

// One input value of an opened keyboard; `sender` is the device.
void InputValue_Callback(void* context, ErrorCode result, void* sender, const vexa::hid::InputValue& value);

}  // extern "C"
