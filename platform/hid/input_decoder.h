// Turns a device's input reports into input values (usage page, usage,
// integer value), one per control whose state changed, as a HID manager
// hands them to its clients. Pure: no I/O; the previous report's state is
// kept here so that a key that leaves a keyboard's array is reported
// released.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "platform/hid/report_descriptor.h"

namespace vexa::hid {

struct InputValue {
    std::uint16_t usagePage;
    std::uint16_t usage;
    std::int64_t value;
    friend bool operator==(const InputValue&, const InputValue&) = default;
};

class InputDecoder {
public:
    explicit InputDecoder(ReportDescriptor descriptor);

    // Appends to `out` the values that this report changes, field by field
    // in descriptor order:
    // - a variable control (a modifier key, a button, an axis) when its value
    //   differs from the last report's; a relative one whenever it is not 0;
    // - for an array (the keys down of a keyboard): value 0 for each usage
    //   that left the array, then value 1 for each usage that entered it.
    //   Index 0 means "no key"; a report with an error index (page 7
    //   usages 1 to 3, "too many keys down") leaves that field's state as
    //   it was, since it does not say which keys are down.
    // A report with an unknown report ID gives nothing; a short report is
    // read as if filled up with zeros, as the kernel reads it. Fields wider
    // than 32 bits carry no values.
    void decode(std::span<const std::uint8_t> report, std::vector<InputValue>& out);

    // Appends value 0 for every key and button the last reports left down
    // (non-zero absolute controls, usages in an array) and forgets them:
    // what a device that has gone away no longer holds.
    void releaseAll(std::vector<InputValue>& out);

    const ReportDescriptor& descriptor() const { return descriptor_; }

private:
    void decodeVariable(std::size_t index, std::span<const std::uint8_t> data, std::vector<InputValue>& out);
    void decodeArray(std::size_t index, std::span<const std::uint8_t> data, std::vector<InputValue>& out);

    ReportDescriptor descriptor_;
    // Per field: the last values of a variable field, or the usages down in
    // an array field.
    std::vector<std::vector<std::uint32_t>> lastValues_;  // raw bits
    std::vector<std::vector<ExtendedUsage>> lastUsages_;
};

}  // namespace vexa::hid
