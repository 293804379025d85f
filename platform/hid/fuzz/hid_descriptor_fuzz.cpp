// Any bytes as a report descriptor followed by input reports: no crash, no
// read out of bounds, every field inside the longest report allowed, and
// every decoded value one that its field can hold.
//
// Input: two bytes (little endian) giving the descriptor's length, the
// descriptor, then reports, each one length byte and its bytes.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "platform/hid/input_decoder.h"
#include "platform/hid/report_descriptor.h"

using namespace vexa::hid;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    std::span<const std::uint8_t> rest(data + 2, size - 2);
    const std::size_t descriptorSize = std::min<std::size_t>(data[0] | data[1] << 8, rest.size());
    ReportDescriptor d;
    if (parseReportDescriptor(rest.first(descriptorSize), d) != 0) return 0;
    rest = rest.subspan(descriptorSize);

    for (const InputField& f : d.inputs) {
        if (f.usages.empty() || f.bitSize == 0 || f.count == 0) std::abort();
        if (f.bitOffset + std::uint64_t{f.bitSize} * f.count > kMaxReportBytes * 8) std::abort();
        for (const UsageSpan& s : f.usages) {
            if (s.first > s.last || usagePageOf(s.first) != usagePageOf(s.last)) std::abort();
        }
    }

    InputDecoder decoder(d);
    std::vector<InputValue> values;
    while (!rest.empty()) {
        const std::size_t n = std::min<std::size_t>(rest[0], rest.size() - 1);
        values.clear();
        decoder.decode(rest.subspan(1, n), values);
        rest = rest.subspan(1 + n);
        // Each field gives at most two values per slot (a release and a press).
        std::size_t slots = 0;
        for (const InputField& f : d.inputs) slots += f.count;
        if (values.size() > 2 * slots) std::abort();
    }
    return 0;
}
