// Any bytes through the keyed-archive decoder: no crash, no unbounded work,
// and whatever decodes can be written again and reads back the same.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "platform/keyedarchive/keyed_archive.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto value = vexa::archive::unarchiveRootObject(std::span(data, size));
    if (!value) return 0;
    const auto again = vexa::archive::archivedDataWithRootObject(*value);
    if (again.empty()) std::abort();
    const auto reread = vexa::archive::unarchiveRootObject(again);
    if (!reread || !(*reread == *value)) std::abort();
    return 0;
}
