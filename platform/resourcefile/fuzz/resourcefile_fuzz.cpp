// Any bytes as a legacy preference file: no crash, no read out of bounds,
// and a resource never claims more bytes than the file has.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/resourcefile/resource_file.h"

using vexa::resource::fourCharCode;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vexa::resource::ResourceFile file;
    if (file.openBytes(std::vector<std::uint8_t>(data, data + size)) != 0) return 0;
    // The lookups the suite makes: keymaps by type, and the DIP switches.
    const struct {
        std::uint32_t type;
        std::int16_t id;
    } lookups[] = {{fourCharCode("KcoD"), 101}, {fourCharCode("KcoD"), 104}, {fourCharCode("KcoD"), 0},
                   {fourCharCode("DSsw"), 128}, {fourCharCode("KcoD"), -1}};
    for (const auto& l : lookups) {
        const auto r = file.getResource(l.type, l.id);
        if (r && r->size() + 4 > size) std::abort();
    }
    file.close();
    return 0;
}
