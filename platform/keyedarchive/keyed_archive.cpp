#include "platform/keyedarchive/keyed_archive.h"

#include <plist/plist.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <string_view>

#include "platform/keyedarchive/bplist_check.h"

namespace vexa::archive {
namespace {

constexpr std::uint64_t kArchiveVersion = 100000;
constexpr std::uint64_t kMaxDecodedNodes = 1u << 18;
constexpr std::uint64_t kMaxDecodedBytes = 1u << 23;

struct PlistFree {
    void operator()(plist_t p) const { plist_free(p); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

bool isValidUtf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t extra;
        std::uint32_t cp;
        if (c == 0) return false;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (s.size() - i <= extra) return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        static constexpr std::uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
        if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += extra + 1;
    }
    return true;
}

std::string stringOf(plist_t node) {
    char* s = nullptr;
    plist_get_string_val(node, &s);
    std::string out = s != nullptr ? s : "";
    std::free(s);
    return out;
}

// ---- Writing ---------------------------------------------------------------

class Archiver {
public:
    Archiver() : objects_(plist_new_array()) { plist_array_append_item(objects_.get(), plist_new_string("$null")); }

    std::vector<std::uint8_t> finish(const Value& root) {
        const auto rootUid = encode(root, 0);
        if (!rootUid) return {};
        PlistPtr archive(plist_new_dict());
        plist_dict_set_item(archive.get(), "$version", plist_new_uint(kArchiveVersion));
        plist_dict_set_item(archive.get(), "$archiver", plist_new_string("NSKeyedArchiver"));
        plist_t top = plist_new_dict();
        plist_dict_set_item(top, "root", plist_new_uid(*rootUid));
        plist_dict_set_item(archive.get(), "$top", top);
        plist_dict_set_item(archive.get(), "$objects", objects_.release());
        char* bin = nullptr;
        std::uint32_t length = 0;
        plist_to_bin(archive.get(), &bin, &length);
        if (bin == nullptr) return {};
        std::vector<std::uint8_t> out(bin, bin + length);
        plist_to_bin_free(bin);
        return out;
    }

private:
    std::uint64_t append(plist_t node) {
        plist_array_append_item(objects_.get(), node);
        return plist_array_get_size(objects_.get()) - 1;
    }

    // Containers take their index before their contents, so the root object
    // is object 1 as in the platform's archives.
    std::uint64_t reserve() { return append(plist_new_bool(0)); }
    void fill(std::uint64_t index, plist_t node) {
        plist_array_set_item(objects_.get(), node, static_cast<std::uint32_t>(index));
    }

    std::uint64_t classRecord(const char* name, std::initializer_list<const char*> chain) {
        const auto it = classes_.find(name);
        if (it != classes_.end()) return it->second;
        plist_t record = plist_new_dict();
        plist_dict_set_item(record, "$classname", plist_new_string(name));
        plist_t list = plist_new_array();
        for (const char* c : chain) plist_array_append_item(list, plist_new_string(c));
        plist_dict_set_item(record, "$classes", list);
        return classes_[name] = append(record);
    }

    std::optional<std::uint64_t> encodeString(const std::string& s) {
        if (!isValidUtf8(s)) return std::nullopt;
        const auto it = strings_.find(s);
        if (it != strings_.end()) return it->second;
        return strings_[s] = append(plist_new_string(s.c_str()));
    }

    std::optional<std::uint64_t> encode(const Value& value, unsigned depth) {
        struct Visitor {
            Archiver& a;
            unsigned depth;
            std::optional<std::uint64_t> operator()(bool b) { return a.append(plist_new_bool(b ? 1 : 0)); }
            std::optional<std::uint64_t> operator()(std::int64_t i) {
                return a.append(plist_new_uint(static_cast<std::uint64_t>(i)));
            }
            std::optional<std::uint64_t> operator()(double d) { return a.append(plist_new_real(d)); }
            std::optional<std::uint64_t> operator()(const std::string& s) { return a.encodeString(s); }
            std::optional<std::uint64_t> operator()(const Data& d) {
                return a.append(plist_new_data(d.empty() ? "" : reinterpret_cast<const char*>(d.data()), d.size()));
            }
            std::optional<std::uint64_t> operator()(const Date& d) {
                const auto index = a.reserve();
                plist_t node = plist_new_dict();
                plist_dict_set_item(node, "NS.time", plist_new_real(d.sinceReferenceDate));
                plist_dict_set_item(node, "$class", plist_new_uid(a.classRecord("NSDate", {"NSDate", "NSObject"})));
                a.fill(index, node);
                return index;
            }
            std::optional<std::uint64_t> operator()(const Array& items) {
                if (depth >= kMaxObjectDepth) return std::nullopt;
                const auto index = a.reserve();
                PlistPtr refs(plist_new_array());
                for (const auto& item : items) {
                    const auto uid = a.encode(item, depth + 1);
                    if (!uid) return std::nullopt;
                    plist_array_append_item(refs.get(), plist_new_uid(*uid));
                }
                plist_t node = plist_new_dict();
                plist_dict_set_item(node, "NS.objects", refs.release());
                plist_dict_set_item(node, "$class", plist_new_uid(a.classRecord(
                                                        "NSMutableArray", {"NSMutableArray", "NSArray", "NSObject"})));
                a.fill(index, node);
                return index;
            }
            std::optional<std::uint64_t> operator()(const Dictionary& dict) {
                if (depth >= kMaxObjectDepth) return std::nullopt;
                const auto index = a.reserve();
                PlistPtr keys(plist_new_array());
                PlistPtr objects(plist_new_array());
                for (const auto& [key, item] : dict) {
                    const auto keyUid = a.encodeString(key);
                    if (!keyUid) return std::nullopt;
                    const auto itemUid = a.encode(item, depth + 1);
                    if (!itemUid) return std::nullopt;
                    plist_array_append_item(keys.get(), plist_new_uid(*keyUid));
                    plist_array_append_item(objects.get(), plist_new_uid(*itemUid));
                }
                plist_t node = plist_new_dict();
                plist_dict_set_item(node, "NS.keys", keys.release());
                plist_dict_set_item(node, "NS.objects", objects.release());
                plist_dict_set_item(node, "$class",
                                    plist_new_uid(a.classRecord("NSMutableDictionary",
                                                                {"NSMutableDictionary", "NSDictionary", "NSObject"})));
                a.fill(index, node);
                return index;
            }
        };
        return std::visit(Visitor{*this, depth}, value.storage());
    }

    PlistPtr objects_;
    std::map<std::string, std::uint64_t, std::less<>> classes_;
    std::map<std::string, std::uint64_t, std::less<>> strings_;
};

// ---- Reading ---------------------------------------------------------------

enum class ClassKind { Dictionary, Array, String, Data, Date };

class Unarchiver {
public:
    explicit Unarchiver(plist_t objects)
        : objects_(objects), count_(plist_array_get_size(objects)), onPath_(count_, false) {}

    std::optional<Value> decode(plist_t uidNode, unsigned depth) {
        std::uint64_t index;
        if (!objectIndex(uidNode, index)) return std::nullopt;
        if (onPath_[index] || depth > kMaxObjectDepth || ++nodes_ > kMaxDecodedNodes) return std::nullopt;
        plist_t node = plist_array_get_item(objects_, static_cast<std::uint32_t>(index));
        switch (plist_get_node_type(node)) {
            case PLIST_STRING:
                return decodeString(node);
            case PLIST_DATA:
                return decodeData(node);
            case PLIST_UINT: {
                std::uint64_t v = 0;
                plist_get_uint_val(node, &v);
                return Value(static_cast<std::int64_t>(v));
            }
            case PLIST_REAL: {
                double d = 0;
                plist_get_real_val(node, &d);
                return Value(d);
            }
            case PLIST_BOOLEAN: {
                std::uint8_t b = 0;
                plist_get_bool_val(node, &b);
                return Value(b != 0);
            }
            case PLIST_DICT:
                break;
            default:
                return std::nullopt;
        }
        const auto kind = classOf(node);
        if (!kind) return std::nullopt;
        const bool container = *kind == ClassKind::Dictionary || *kind == ClassKind::Array;
        if (container && depth >= kMaxObjectDepth) return std::nullopt;
        onPath_[index] = true;
        auto value = decodeObject(node, *kind, depth);
        onPath_[index] = false;
        return value;
    }

private:
    // A UID node naming an object other than $null.
    bool objectIndex(plist_t uidNode, std::uint64_t& index) const {
        if (uidNode == nullptr || plist_get_node_type(uidNode) != PLIST_UID) return false;
        plist_get_uid_val(uidNode, &index);
        return index != 0 && index < count_;
    }

    bool spend(std::uint64_t bytes) {
        if (bytes > kMaxDecodedBytes - bytes_) return false;
        bytes_ += bytes;
        return true;
    }

    std::optional<Value> decodeString(plist_t node) {
        std::string s = stringOf(node);
        if (!spend(s.size()) || !isValidUtf8(s)) return std::nullopt;
        return Value(std::move(s));
    }

    std::optional<Value> decodeData(plist_t node) {
        char* bytes = nullptr;
        std::uint64_t length = 0;
        plist_get_data_val(node, &bytes, &length);
        std::unique_ptr<char, decltype(&std::free)> owned(bytes, &std::free);
        if (!spend(length)) return std::nullopt;
        const auto* p = reinterpret_cast<const std::uint8_t*>(bytes);
        return Value(Data(p, p + length));
    }

    std::optional<ClassKind> classOf(plist_t node) const {
        std::uint64_t index;
        if (!objectIndex(plist_dict_get_item(node, "$class"), index)) return std::nullopt;
        plist_t record = plist_array_get_item(objects_, static_cast<std::uint32_t>(index));
        if (plist_get_node_type(record) != PLIST_DICT) return std::nullopt;
        plist_t name = plist_dict_get_item(record, "$classname");
        if (name == nullptr || plist_get_node_type(name) != PLIST_STRING) return std::nullopt;
        static const std::map<std::string, ClassKind, std::less<>> kKnown = {
            {"NSDictionary", ClassKind::Dictionary}, {"NSMutableDictionary", ClassKind::Dictionary},
            {"NSArray", ClassKind::Array},           {"NSMutableArray", ClassKind::Array},
            {"NSString", ClassKind::String},         {"NSMutableString", ClassKind::String},
            {"NSData", ClassKind::Data},             {"NSMutableData", ClassKind::Data},
            {"NSDate", ClassKind::Date},
        };
        const auto it = kKnown.find(stringOf(name));
        if (it == kKnown.end()) return std::nullopt;
        return it->second;
    }

    // An array of UIDs under `key`, or null.
    static plist_t uidArray(plist_t node, const char* key) {
        plist_t a = plist_dict_get_item(node, key);
        return a != nullptr && plist_get_node_type(a) == PLIST_ARRAY ? a : nullptr;
    }

    std::optional<Value> decodeObject(plist_t node, ClassKind kind, unsigned depth) {
        switch (kind) {
            case ClassKind::String: {
                plist_t s = plist_dict_get_item(node, "NS.string");
                if (s == nullptr || plist_get_node_type(s) != PLIST_STRING) return std::nullopt;
                return decodeString(s);
            }
            case ClassKind::Data: {
                plist_t d = plist_dict_get_item(node, "NS.data");
                if (d == nullptr || plist_get_node_type(d) != PLIST_DATA) return std::nullopt;
                return decodeData(d);
            }
            case ClassKind::Date: {
                plist_t t = plist_dict_get_item(node, "NS.time");
                if (t == nullptr || plist_get_node_type(t) != PLIST_REAL) return std::nullopt;
                double d = 0;
                plist_get_real_val(t, &d);
                return Value(Date{d});
            }
            case ClassKind::Array: {
                plist_t items = uidArray(node, "NS.objects");
                if (items == nullptr) return std::nullopt;
                Array out;
                const std::uint32_t n = plist_array_get_size(items);
                for (std::uint32_t i = 0; i < n; ++i) {
                    auto item = decode(plist_array_get_item(items, i), depth + 1);
                    if (!item) return std::nullopt;
                    out.push_back(std::move(*item));
                }
                return Value(std::move(out));
            }
            case ClassKind::Dictionary: {
                plist_t keys = uidArray(node, "NS.keys");
                plist_t items = uidArray(node, "NS.objects");
                if (keys == nullptr || items == nullptr) return std::nullopt;
                const std::uint32_t n = plist_array_get_size(keys);
                if (plist_array_get_size(items) != n) return std::nullopt;
                Dictionary out;
                for (std::uint32_t i = 0; i < n; ++i) {
                    auto key = decode(plist_array_get_item(keys, i), depth + 1);
                    if (!key || key->get<std::string>() == nullptr) return std::nullopt;
                    auto item = decode(plist_array_get_item(items, i), depth + 1);
                    if (!item) return std::nullopt;
                    out.set(std::move(*key->get<std::string>()), std::move(*item));
                }
                return Value(std::move(out));
            }
        }
        return std::nullopt;
    }

    plist_t objects_;
    std::uint64_t count_;
    std::vector<bool> onPath_;
    std::uint64_t nodes_ = 0;
    std::uint64_t bytes_ = 0;
};

}  // namespace

std::vector<std::uint8_t> archivedDataWithRootObject(const Value& root) { return Archiver().finish(root); }

std::optional<Value> unarchiveRootObject(std::span<const std::uint8_t> bytes) {
    if (bytes.size() > UINT32_MAX || !isWellFormedBinaryPlist(bytes)) return std::nullopt;
    plist_t parsed = nullptr;
    plist_from_bin(reinterpret_cast<const char*>(bytes.data()), static_cast<std::uint32_t>(bytes.size()), &parsed);
    PlistPtr archive(parsed);
    if (archive == nullptr || plist_get_node_type(archive.get()) != PLIST_DICT) return std::nullopt;

    plist_t archiver = plist_dict_get_item(archive.get(), "$archiver");
    plist_t version = plist_dict_get_item(archive.get(), "$version");
    plist_t top = plist_dict_get_item(archive.get(), "$top");
    plist_t objects = plist_dict_get_item(archive.get(), "$objects");
    if (archiver == nullptr || plist_get_node_type(archiver) != PLIST_STRING ||
        stringOf(archiver) != "NSKeyedArchiver")
        return std::nullopt;
    if (version == nullptr || plist_get_node_type(version) != PLIST_UINT) return std::nullopt;
    if (top == nullptr || plist_get_node_type(top) != PLIST_DICT) return std::nullopt;
    if (objects == nullptr || plist_get_node_type(objects) != PLIST_ARRAY || plist_array_get_size(objects) == 0)
        return std::nullopt;
    plist_t null = plist_array_get_item(objects, 0);
    if (plist_get_node_type(null) != PLIST_STRING || stringOf(null) != "$null") return std::nullopt;

    return Unarchiver(objects).decode(plist_dict_get_item(top, "root"), 0);
}

}  // namespace vexa::archive
