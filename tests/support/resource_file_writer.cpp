#include "tests/support/resource_file_writer.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>

void vexa::test::putBE32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes.at(at + i) = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

void vexa::test::putBE16(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint16_t value) {
    bytes.at(at) = static_cast<std::uint8_t>(value >> 8);
    bytes.at(at + 1) = static_cast<std::uint8_t>(value);
}

std::vector<std::uint8_t> vexa::test::makeResourceFile(const std::vector<TestResource>& resources,
                                                       ResourceFileLayout* layout) {
    ResourceFileLayout where;
    std::vector<std::uint8_t> out(256, 0);
    const std::uint32_t dataOffset = 256;

    // Resource data: a 4-byte length before each resource's bytes.
    std::vector<std::uint32_t> dataAt;
    for (const auto& r : resources) {
        dataAt.push_back(static_cast<std::uint32_t>(out.size()) - dataOffset);
        where.lengthFields.push_back(static_cast<std::uint32_t>(out.size()));
        out.resize(out.size() + 4);
        putBE32(out, out.size() - 4, static_cast<std::uint32_t>(r.data.size()));
        out.insert(out.end(), r.data.begin(), r.data.end());
    }
    const auto dataLength = static_cast<std::uint32_t>(out.size()) - dataOffset;

    // Types in order of first appearance.
    std::vector<std::uint32_t> types;
    for (const auto& r : resources) {
        bool seen = false;
        for (auto t : types) seen = seen || t == r.type;
        if (!seen) types.push_back(r.type);
    }

    const auto mapOffset = static_cast<std::uint32_t>(out.size());
    const std::uint32_t typeListRel = 28;
    const std::uint32_t typeList = mapOffset + typeListRel;
    const std::uint32_t refLists = typeList + 2 + 8 * static_cast<std::uint32_t>(types.size());
    const std::uint32_t nameList = refLists + 12 * static_cast<std::uint32_t>(resources.size());
    out.resize(nameList, 0);
    where.references.resize(resources.size());
    putBE16(out, typeList, static_cast<std::uint16_t>(types.size() - 1));

    std::vector<std::uint8_t> names;
    std::uint32_t nextRef = refLists;
    for (std::size_t t = 0; t < types.size(); ++t) {
        const std::uint32_t entry = typeList + 2 + 8 * static_cast<std::uint32_t>(t);
        where.typeEntries.push_back(entry);
        std::uint16_t count = 0;
        putBE32(out, entry, types[t]);
        putBE16(out, entry + 6, static_cast<std::uint16_t>(nextRef - typeList));
        for (std::size_t i = 0; i < resources.size(); ++i) {
            const auto& r = resources[i];
            if (r.type != types[t]) continue;
            where.references[i] = nextRef;
            putBE16(out, nextRef, static_cast<std::uint16_t>(r.id));
            if (r.name.empty()) {
                putBE16(out, nextRef + 2, 0xFFFF);
            } else {
                putBE16(out, nextRef + 2, static_cast<std::uint16_t>(names.size()));
                names.push_back(static_cast<std::uint8_t>(r.name.size()));
                names.insert(names.end(), r.name.begin(), r.name.end());
            }
            // Attributes byte, then the 3-byte offset of the data in the data area.
            putBE32(out, nextRef + 4, (std::uint32_t{r.attributes} << 24) | (dataAt[i] & 0x00FFFFFF));
            nextRef += 12;
            ++count;
        }
        putBE16(out, entry + 4, static_cast<std::uint16_t>(count - 1));
    }
    out.insert(out.end(), names.begin(), names.end());
    const auto mapLength = static_cast<std::uint32_t>(out.size()) - mapOffset;

    for (std::uint32_t at : {0u, mapOffset}) {
        putBE32(out, at, dataOffset);
        putBE32(out, at + 4, mapOffset);
        putBE32(out, at + 8, dataLength);
        putBE32(out, at + 12, mapLength);
    }
    putBE16(out, mapOffset + 24, static_cast<std::uint16_t>(typeListRel));
    putBE16(out, mapOffset + 26, static_cast<std::uint16_t>(nameList - mapOffset));

    where.dataOffset = dataOffset;
    where.mapOffset = mapOffset;
    where.typeList = typeList;
    if (layout != nullptr) *layout = where;
    return out;
}

void vexa::test::writeTestFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    const auto parent = std::filesystem::path(path).parent_path();
    if (!parent.empty()) std::filesystem::create_directories(parent);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}
