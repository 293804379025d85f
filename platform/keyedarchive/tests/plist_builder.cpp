#include "plist_builder.h"

namespace vexa::archive::test {

ArchiveBuilder::ArchiveBuilder() : archive_(plist_new_dict()), objects_(plist_new_array()) {
    plist_array_append_item(objects_, plist_new_string("$null"));
    plist_dict_set_item(archive_, "$archiver", plist_new_string("NSKeyedArchiver"));
    plist_dict_set_item(archive_, "$version", plist_new_uint(100000));
    plist_dict_set_item(archive_, "$objects", objects_);
}

ArchiveBuilder::~ArchiveBuilder() { plist_free(archive_); }

std::uint64_t ArchiveBuilder::add(plist_t node) {
    plist_array_append_item(objects_, node);
    return plist_array_get_size(objects_) - 1;
}

std::uint64_t ArchiveBuilder::next() const { return plist_array_get_size(objects_); }

void ArchiveBuilder::replace(std::uint64_t index, plist_t node) {
    plist_array_set_item(objects_, node, static_cast<std::uint32_t>(index));
}

std::uint64_t ArchiveBuilder::data(const std::vector<std::uint8_t>& bytes) {
    return add(plist_new_data(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

std::uint64_t ArchiveBuilder::classRecord(const char* name, std::initializer_list<const char*> chain) {
    plist_t record = plist_new_dict();
    plist_dict_set_item(record, "$classname", plist_new_string(name));
    plist_t list = plist_new_array();
    for (const char* c : chain) plist_array_append_item(list, plist_new_string(c));
    plist_dict_set_item(record, "$classes", list);
    return add(record);
}

plist_t uidArray(std::initializer_list<std::uint64_t> uids) {
    plist_t a = plist_new_array();
    for (auto u : uids) plist_array_append_item(a, plist_new_uid(u));
    return a;
}

plist_t ArchiveBuilder::dictObject(std::initializer_list<std::uint64_t> keys,
                                   std::initializer_list<std::uint64_t> values, std::uint64_t classIndex) {
    plist_t d = plist_new_dict();
    plist_dict_set_item(d, "NS.keys", uidArray(keys));
    plist_dict_set_item(d, "NS.objects", uidArray(values));
    plist_dict_set_item(d, "$class", plist_new_uid(classIndex));
    return d;
}

plist_t ArchiveBuilder::arrayObject(std::initializer_list<std::uint64_t> items, std::uint64_t classIndex) {
    plist_t d = plist_new_dict();
    plist_dict_set_item(d, "NS.objects", uidArray(items));
    plist_dict_set_item(d, "$class", plist_new_uid(classIndex));
    return d;
}

plist_t ArchiveBuilder::object(std::initializer_list<std::pair<const char*, plist_t>> fields,
                               std::uint64_t classIndex) {
    plist_t d = plist_new_dict();
    for (const auto& [key, value] : fields) plist_dict_set_item(d, key, value);
    plist_dict_set_item(d, "$class", plist_new_uid(classIndex));
    return d;
}

std::uint64_t ArchiveBuilder::wideInteger(std::uint64_t value) {
    // libplist makes 8-byte integers only; parse one written in 16 bytes.
    std::vector<std::uint8_t> marker{0x14, 0, 0, 0, 0, 0, 0, 0, 0};
    for (int shift = 56; shift >= 0; shift -= 8) marker.push_back(static_cast<std::uint8_t>(value >> shift));
    const auto raw = rawBinaryPlist({marker}, 0);
    plist_t node = nullptr;
    plist_from_bin(reinterpret_cast<const char*>(raw.data()), static_cast<std::uint32_t>(raw.size()), &node);
    return add(node);
}

std::vector<std::uint8_t> ArchiveBuilder::finish(std::uint64_t root) {
    if (plist_dict_get_item(archive_, "$top") == nullptr) {
        plist_t top = plist_new_dict();
        plist_dict_set_item(top, "root", plist_new_uid(root));
        plist_dict_set_item(archive_, "$top", top);
    }
    char* bin = nullptr;
    std::uint32_t length = 0;
    plist_to_bin(archive_, &bin, &length);
    std::vector<std::uint8_t> out(bin, bin + length);
    plist_to_bin_free(bin);
    return out;
}

namespace {
void putBE(std::vector<std::uint8_t>& out, std::uint64_t v, unsigned size) {
    for (unsigned i = 0; i < size; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * (size - 1 - i))));
}
}  // namespace

std::vector<std::uint8_t> rawArray(const std::vector<std::uint64_t>& refs, unsigned refSize) {
    std::vector<std::uint8_t> o;
    if (refs.size() < 15) {
        o.push_back(static_cast<std::uint8_t>(0xA0 | refs.size()));
    } else {
        o.push_back(0xAF);
        o.push_back(0x12);
        putBE(o, refs.size(), 4);
    }
    for (auto r : refs) putBE(o, r, refSize);
    return o;
}

std::vector<std::uint8_t> rawBinaryPlist(const std::vector<std::vector<std::uint8_t>>& objects, std::uint64_t top,
                                         unsigned refSize) {
    std::vector<std::uint8_t> out{'b', 'p', 'l', 'i', 's', 't', '0', '0'};
    std::vector<std::uint64_t> offsets;
    for (const auto& o : objects) {
        offsets.push_back(out.size());
        out.insert(out.end(), o.begin(), o.end());
    }
    const std::uint64_t table = out.size();
    for (auto off : offsets) putBE(out, off, 4);
    out.insert(out.end(), 6, 0);
    out.push_back(4);
    out.push_back(static_cast<std::uint8_t>(refSize));
    putBE(out, objects.size(), 8);
    putBE(out, top, 8);
    putBE(out, table, 8);
    return out;
}

}  // namespace vexa::archive::test
