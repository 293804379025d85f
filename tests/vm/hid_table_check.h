// Compares the driver's HID usage -> Linux key table with what the running
// kernel does for a real HID keyboard.
#pragma once

namespace vexa::guest {

// Creates a uhid keyboard whose key array covers usages 0x00-0xFF and, for
// every usage, checks the key bits the kernel gave the device and the key
// code that follows the usage's MSC_SCAN. Prints every disagreement; true
// when there is none.
bool checkHidTableAgainstKernel();

}  // namespace vexa::guest
