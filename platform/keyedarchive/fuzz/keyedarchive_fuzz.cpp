// Any bytes through the keyed-archive decoder: no crash, no unbounded work,
// whatever decodes can be written again and reads back the same, and reading
// along key paths only ever refuses more, never reads anything otherwise.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "platform/keyedarchive/keyed_archive.h"

namespace {

const vexa::archive::KeyPath kPaths[] = {{"VexaKeyMap", "Vexa Orla ANSI"}, {"VexaKeyMap", "Vexa Orla JIS"}};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto value = vexa::archive::unarchiveRootObject(std::span(data, size));
    const auto alongPaths = vexa::archive::unarchiveRootObject(std::span(data, size), kPaths);
    if (alongPaths && !(value && *alongPaths == *value)) std::abort();
    if (!value) return 0;
    const auto again = vexa::archive::archivedDataWithRootObject(*value);
    if (again.empty()) std::abort();
    const auto reread = vexa::archive::unarchiveRootObject(again);
    if (!reread || !(*reread == *value)) std::abort();
    return 0;
}
