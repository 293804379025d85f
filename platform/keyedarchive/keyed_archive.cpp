#include "platform/keyedarchive/keyed_archive.h"

#include <plist/plist.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <string_view>
#include <unordered_map>

#include "platform/keyedarchive/bplist_check.h"
#include "platform/keyedarchive/foreign_objects.h"

namespace vexa::archive {
namespace {

constexpr std::uint64_t kArchiveVersion = 100000;
constexpr std::uint64_t kMaxDecodedNodes = 1u << 18;
constexpr std::uint64_t kMaxDecodedBytes = 1u << 23;

struct PlistFree {
    void operator()(plist_t p) const { plist_free(p); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

// A text node's whole text: it may hold NUL characters, on which libplist's
// plist_get_string_val asserts.
std::string stringOf(plist_t node) {
    std::uint64_t length = 0;
    const char* s = plist_get_string_ptr(node, &length);
    return s != nullptr ? std::string(s, length) : std::string();
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
                auto add = [&](std::optional<std::uint64_t> keyUid, const Value& item) {
                    if (!keyUid) return false;
                    const auto itemUid = a.encode(item, depth + 1);
                    if (!itemUid) return false;
                    plist_array_append_item(keys.get(), plist_new_uid(*keyUid));
                    plist_array_append_item(objects.get(), plist_new_uid(*itemUid));
                    return true;
                };
                for (const auto& [key, item] : dict) {
                    if (!add(a.encodeString(key), item)) return std::nullopt;
                }
                for (const auto& other : dict.otherEntries()) {
                    if (!add(a.encode(other.key, depth + 1), other.value)) return std::nullopt;
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
            std::optional<std::uint64_t> operator()(const Opaque& o) { return a.copyForeign(o); }
        };
        return std::visit(Visitor{*this, depth}, value.storage());
    }

    // Copies a foreign object and everything it references from the archive
    // it was read from, each object once per archive written: objects that
    // foreign values share stay shared.
    std::optional<std::uint64_t> copyForeign(const Opaque& o) {
        const ForeignObjects* from = o.objects();
        if (from == nullptr || o.index() == 0 || o.index() >= from->count) return std::nullopt;
        auto& copied = copied_[from];
        std::vector<std::uint64_t> todo;
        auto target = [&](std::uint64_t index) {
            const auto [it, fresh] = copied.try_emplace(index, 0);
            if (fresh) {
                it->second = reserve();
                todo.push_back(index);
            }
            return it->second;
        };
        const std::uint64_t top = target(o.index());
        while (!todo.empty()) {
            const std::uint64_t index = todo.back();
            todo.pop_back();
            plist_t node = copyNode(from->at(index));
            if (node == nullptr) return std::nullopt;
            forEachNode(node, [&](plist_t n) {
                if (plist_get_node_type(n) == PLIST_UID) {
                    std::uint64_t uid = 0;
                    plist_get_uid_val(n, &uid);
                    if (uid != 0) plist_set_uid_val(n, target(uid));
                }
                return true;
            });
            fill(copied.at(index), node);
        }
        return top;
    }

    PlistPtr objects_;
    std::map<std::string, std::uint64_t, std::less<>> classes_;
    std::map<std::string, std::uint64_t, std::less<>> strings_;
    std::map<const ForeignObjects*, std::unordered_map<std::uint64_t, std::uint64_t>> copied_;
};

// ---- Reading ---------------------------------------------------------------

// Foreign: a class this program does not interpret; its objects become
// opaque values.
enum class ClassKind { Dictionary, Array, String, Data, Date, Foreign };

class Unarchiver {
public:
    Unarchiver(std::shared_ptr<const ForeignObjects> foreign, std::span<const KeyPath> strictPaths)
        : foreign_(std::move(foreign)),
          objects_(foreign_->objects),
          count_(foreign_->count),
          strictPaths_(strictPaths),
          onPath_(count_, false) {}

    // Decodes the object `uidNode` names. `strictAt` holds the keys from the
    // root to it when the caller must read it as what it is; otherwise a
    // damaged object is kept as an opaque value, written back as it was.
    std::optional<Value> decode(plist_t uidNode, unsigned depth, const KeyPath* strictAt) {
        std::uint64_t index;
        // No reference: the object holding it is damaged, not the whole.
        if (!objectIndex(uidNode, index)) return std::nullopt;
        if (onPath_[index] || depth > kMaxObjectDepth || ++nodes_ > kMaxDecodedNodes) return fail();
        auto value = decodeAt(index, depth, strictAt);
        if (value || failed_) return value;
        if (strictAt != nullptr) return fail();
        return opaque(index);
    }

private:
    // The whole archive cannot be read; no object is kept instead.
    std::optional<Value> fail() {
        failed_ = true;
        return std::nullopt;
    }

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

    // The object as an opaque value, once everything it references is sound
    // and within the budget; otherwise the archive cannot be read.
    std::optional<Value> opaque(std::uint64_t index) {
        const bool sound = isSoundForeignGraph(*foreign_, index, [this](std::uint64_t bytes) {
            return ++nodes_ <= kMaxDecodedNodes && spend(bytes);
        });
        if (!sound) return fail();
        return Value(Opaque(foreign_, index));
    }

    // None when the object is damaged, or, with failed_ set, when the
    // archive cannot be read.
    std::optional<Value> decodeAt(std::uint64_t index, unsigned depth, const KeyPath* strictAt) {
        plist_t node = plist_array_get_item(objects_, static_cast<std::uint32_t>(index));
        switch (plist_get_node_type(node)) {
            case PLIST_STRING:
                return decodeString(node);
            case PLIST_DATA:
                return decodeData(node);
            case PLIST_UINT: {
                if (isWideInteger(node)) return opaque(index);
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
        if (*kind == ClassKind::Foreign) return opaque(index);
        const bool container = *kind == ClassKind::Dictionary || *kind == ClassKind::Array;
        if (container && depth >= kMaxObjectDepth) return fail();
        onPath_[index] = true;
        auto value = decodeObject(node, *kind, depth, strictAt);
        onPath_[index] = false;
        return value;
    }

    // A text holding a NUL (our texts cannot) or not UTF-8 is damaged.
    std::optional<Value> decodeString(plist_t node) {
        std::string s = stringOf(node);
        if (!spend(s.size())) return fail();
        if (!isValidUtf8(s)) return std::nullopt;
        return Value(std::move(s));
    }

    std::optional<Value> decodeData(plist_t node) {
        char* bytes = nullptr;
        std::uint64_t length = 0;
        plist_get_data_val(node, &bytes, &length);
        std::unique_ptr<char, decltype(&std::free)> owned(bytes, &std::free);
        if (!spend(length)) return fail();
        const auto* p = reinterpret_cast<const std::uint8_t*>(bytes);
        return Value(Data(p, p + length));
    }

    // The kind of an object's class; none when its class record is malformed.
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
        return it == kKnown.end() ? ClassKind::Foreign : it->second;
    }

    // An array of UIDs under `key`, or null.
    static plist_t uidArray(plist_t node, const char* key) {
        plist_t a = plist_dict_get_item(node, key);
        return a != nullptr && plist_get_node_type(a) == PLIST_ARRAY ? a : nullptr;
    }

    // The keys to the entry under `key` of the dictionary at `strictAt`,
    // when that entry must be read as what it is too.
    std::optional<KeyPath> strictEntry(const KeyPath* strictAt, const Value& key) const {
        const auto* text = key.get<std::string>();
        if (strictAt == nullptr || text == nullptr) return std::nullopt;
        KeyPath at = *strictAt;
        at.push_back(*text);
        for (const auto& path : strictPaths_) {
            if (path.size() >= at.size() && std::equal(at.begin(), at.end(), path.begin())) return at;
        }
        return std::nullopt;
    }

    std::optional<Value> decodeObject(plist_t node, ClassKind kind, unsigned depth, const KeyPath* strictAt) {
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
                    auto item = decode(plist_array_get_item(items, i), depth + 1, nullptr);
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
                    auto key = decode(plist_array_get_item(keys, i), depth + 1, nullptr);
                    if (!key) return std::nullopt;
                    const auto strictItem = strictEntry(strictAt, *key);
                    auto item = decode(plist_array_get_item(items, i), depth + 1, strictItem ? &*strictItem : nullptr);
                    if (!item) return std::nullopt;
                    out.addEntry(std::move(*key), std::move(*item));
                }
                return Value(std::move(out));
            }
            case ClassKind::Foreign:
                break;
        }
        return std::nullopt;
    }

    std::shared_ptr<const ForeignObjects> foreign_;
    plist_t objects_;
    std::uint64_t count_;
    std::span<const KeyPath> strictPaths_;
    std::vector<bool> onPath_;
    std::uint64_t nodes_ = 0;
    std::uint64_t bytes_ = 0;
    bool failed_ = false;
};

// libplist 2.2 reads a UTF-16 text holding a NUL whole (readableBinaryPlist
// relies on it). Should a version not, such texts are refused, as a file
// holding one was before, rather than read cut short and written back so.
bool libplistKeepsTextsWithNul() {
    static const bool keeps = PlistPtr(textNode(std::string_view("a\0b", 3))) != nullptr;
    return keeps;
}

}  // namespace

std::vector<std::uint8_t> archivedDataWithRootObject(const Value& root) { return Archiver().finish(root); }

std::optional<Value> unarchiveRootObject(std::span<const std::uint8_t> bytes, std::span<const KeyPath> strictPaths) {
    if (bytes.size() > UINT32_MAX) return std::nullopt;
    BinaryPlistLimits limits;
    limits.nulInTexts = libplistKeepsTextsWithNul();
    const auto readable = readableBinaryPlist(bytes, limits);
    if (!readable || readable->size() > UINT32_MAX) return std::nullopt;
    plist_t parsed = nullptr;
    plist_from_bin(reinterpret_cast<const char*>(readable->data()), static_cast<std::uint32_t>(readable->size()),
                   &parsed);
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

    plist_t root = plist_dict_get_item(top, "root");
    // Opaque values keep the parsed archive alive; the decoded rest is copied.
    const KeyPath atRoot;
    return Unarchiver(std::make_shared<const ForeignObjects>(archive.release(), objects), strictPaths)
        .decode(root, 0, &atRoot);
}

}  // namespace vexa::archive
