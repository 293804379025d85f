#include "platform/keyedarchive/foreign_objects.h"

#include <bit>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/keyedarchive/bplist_check.h"

namespace vexa::archive {

ForeignObjects::ForeignObjects(plist_t archive_, plist_t objects_)
    : archive(archive_), objects(objects_), count(plist_array_get_size(objects_)) {}

ForeignObjects::~ForeignObjects() { plist_free(archive); }

bool isValidUtf8(std::string_view s, bool allowNul) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t extra;
        std::uint32_t cp;
        if (c == 0 && !allowNul) return false;
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

bool isWideInteger(plist_t node) {
    // libplist remembers the width it read but shows only the value: a node
    // made anew from the value is 8 bytes wide, and compares unequal to a
    // 16-byte one.
    std::uint64_t value = 0;
    plist_get_uint_val(node, &value);
    plist_t probe = plist_new_uint(value);
    const bool wide = plist_compare_node_value(node, probe) == 0;
    plist_free(probe);
    return wide;
}

bool forEachEntry(plist_t dict, const std::function<bool(const char* key, plist_t value)>& visit) {
    plist_dict_iter it = nullptr;
    plist_dict_new_iter(dict, &it);
    std::unique_ptr<void, decltype(&std::free)> owned(it, &std::free);
    for (;;) {
        char* key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(dict, it, &key, &value);
        if (value == nullptr) return true;
        std::unique_ptr<char, decltype(&std::free)> ownedKey(key, &std::free);
        if (!visit(key != nullptr ? key : "", value)) return false;
    }
}

bool forEachNode(plist_t node, const std::function<bool(plist_t)>& visit) {
    if (!visit(node)) return false;
    switch (plist_get_node_type(node)) {
        case PLIST_ARRAY: {
            const std::uint32_t n = plist_array_get_size(node);
            for (std::uint32_t i = 0; i < n; ++i) {
                if (!forEachNode(plist_array_get_item(node, i), visit)) return false;
            }
            return true;
        }
        case PLIST_DICT:
            return forEachEntry(node, [&](const char*, plist_t value) { return forEachNode(value, visit); });
        default:
            return true;
    }
}

namespace {

// The UTF-16 code units of valid UTF-8 text.
std::vector<std::uint16_t> utf16Of(std::string_view s) {
    std::vector<std::uint16_t> units;
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const std::size_t extra = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
        std::uint32_t cp = extra == 0 ? c : c & (0x3F >> extra);
        for (std::size_t k = 1; k <= extra && i + k < s.size(); ++k) {
            cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        }
        i += extra + 1;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            units.push_back(static_cast<std::uint16_t>(0xD800 | (cp >> 10)));
            units.push_back(static_cast<std::uint16_t>(0xDC00 | (cp & 0x3FF)));
        } else {
            units.push_back(static_cast<std::uint16_t>(cp));
        }
    }
    return units;
}

}  // namespace

// libplist makes a text node holding a NUL only when it reads a UTF-16 text
// from a binary property list, so it reads one made of just that text.
plist_t textNode(std::string_view text) {
    const auto bytes = utf16TextPlist(utf16Of(text));
    plist_t node = nullptr;
    plist_from_bin(reinterpret_cast<const char*>(bytes.data()), static_cast<std::uint32_t>(bytes.size()), &node);
    std::uint64_t length = 0;
    const char* made = node != nullptr ? plist_get_string_ptr(node, &length) : nullptr;
    if (made == nullptr || std::string_view(made, length) != text) {
        plist_free(node);
        return nullptr;
    }
    return node;
}

plist_t copyNode(plist_t node) {
    switch (plist_get_node_type(node)) {
        case PLIST_ARRAY: {
            plist_t out = plist_new_array();
            const std::uint32_t n = plist_array_get_size(node);
            for (std::uint32_t i = 0; i < n; ++i) {
                plist_t item = copyNode(plist_array_get_item(node, i));
                if (item == nullptr) {
                    plist_free(out);
                    return nullptr;
                }
                plist_array_append_item(out, item);
            }
            return out;
        }
        case PLIST_DICT: {
            plist_t out = plist_new_dict();
            const bool copied = forEachEntry(node, [&](const char* key, plist_t value) {
                plist_t item = copyNode(value);
                if (item != nullptr) plist_dict_set_item(out, key, item);
                return item != nullptr;
            });
            if (!copied) {
                plist_free(out);
                return nullptr;
            }
            return out;
        }
        case PLIST_STRING: {
            std::uint64_t length = 0;
            const char* s = plist_get_string_ptr(node, &length);
            if (s != nullptr && std::memchr(s, 0, length) != nullptr) return textNode(std::string_view(s, length));
            return plist_copy(node);
        }
        default:
            return plist_copy(node);
    }
}

namespace {

// Keys are UTF-8 and named once: a binary property list may name one key
// twice, readers disagree on which value wins, and such an object cannot be
// written back faithfully.
bool hasSoundKeys(plist_t dict, std::uint64_t& bytes) {
    std::unordered_set<std::string> keys;
    return forEachEntry(dict, [&](const char* key, plist_t) {
        bytes += std::strlen(key);
        return isValidUtf8(key) && keys.insert(key).second;
    });
}

}  // namespace

bool isSoundForeignGraph(const ForeignObjects& objects, std::uint64_t index,
                         const std::function<bool(std::uint64_t bytes)>& spend) {
    std::unordered_set<std::uint64_t> seen{index};
    std::vector<std::uint64_t> todo{index};
    while (!todo.empty()) {
        const std::uint64_t at = todo.back();
        todo.pop_back();
        std::uint64_t bytes = 0;
        const bool ok = forEachNode(objects.at(at), [&](plist_t node) {
            std::uint64_t length = 0;
            switch (plist_get_node_type(node)) {
                case PLIST_UID: {
                    std::uint64_t uid = 0;
                    plist_get_uid_val(node, &uid);
                    if (uid >= objects.count) return false;
                    if (uid != 0 && seen.insert(uid).second) todo.push_back(uid);
                    return true;
                }
                case PLIST_STRING: {
                    // Copied as they are, texts may hold NUL characters.
                    const char* s = plist_get_string_ptr(node, &length);
                    bytes += length;
                    return s != nullptr && isValidUtf8(std::string_view(s, length), true);
                }
                case PLIST_DATA:
                    plist_get_data_ptr(node, &length);
                    bytes += length;
                    return true;
                case PLIST_DICT:
                    return hasSoundKeys(node, bytes);
                case PLIST_DATE:
                    return false;
                default:
                    return true;
            }
        });
        if (!ok || !spend(bytes)) return false;
    }
    return true;
}

namespace {

// Matches two foreign graphs object by object. Objects are paired as the
// walk meets them, and a pairing must hold everywhere (so sharing has to be
// the same on both sides).
class GraphMatch {
public:
    GraphMatch(const ForeignObjects& a, const ForeignObjects& b) : a_(a), b_(b) {}

    bool run(std::uint64_t ia, std::uint64_t ib) {
        if (!pair(ia, ib)) return false;
        while (!todo_.empty()) {
            const auto [x, y] = todo_.back();
            todo_.pop_back();
            if (!same(a_.at(x), b_.at(y))) return false;
        }
        return true;
    }

private:
    bool pair(std::uint64_t x, std::uint64_t y) {
        if (x == 0 || y == 0) return x == y;
        const auto ab = ab_.find(x);
        const auto ba = ba_.find(y);
        if (ab != ab_.end() || ba != ba_.end()) {
            return ab != ab_.end() && ba != ba_.end() && ab->second == y && ba->second == x;
        }
        ab_.emplace(x, y);
        ba_.emplace(y, x);
        todo_.emplace_back(x, y);
        return true;
    }

    bool same(plist_t x, plist_t y) {
        const plist_type type = plist_get_node_type(x);
        if (type != plist_get_node_type(y)) return false;
        switch (type) {
            case PLIST_ARRAY: {
                const std::uint32_t n = plist_array_get_size(x);
                if (n != plist_array_get_size(y)) return false;
                for (std::uint32_t i = 0; i < n; ++i) {
                    if (!same(plist_array_get_item(x, i), plist_array_get_item(y, i))) return false;
                }
                return true;
            }
            case PLIST_DICT:
                return plist_dict_get_size(x) == plist_dict_get_size(y) &&
                       forEachEntry(x, [&](const char* key, plist_t value) {
                           plist_t other = plist_dict_get_item(y, key);
                           return other != nullptr && same(value, other);
                       });
            case PLIST_UID: {
                std::uint64_t ux = 0, uy = 0;
                plist_get_uid_val(x, &ux);
                plist_get_uid_val(y, &uy);
                return pair(ux, uy);
            }
            case PLIST_UINT: {
                std::uint64_t vx = 0, vy = 0;
                plist_get_uint_val(x, &vx);
                plist_get_uint_val(y, &vy);
                return vx == vy && isWideInteger(x) == isWideInteger(y);
            }
            case PLIST_REAL: {
                double dx = 0, dy = 0;
                plist_get_real_val(x, &dx);
                plist_get_real_val(y, &dy);
                return std::bit_cast<std::uint64_t>(dx) == std::bit_cast<std::uint64_t>(dy);
            }
            case PLIST_STRING:
            case PLIST_DATA: {
                std::uint64_t nx = 0, ny = 0;
                const char* px = type == PLIST_STRING ? plist_get_string_ptr(x, &nx) : plist_get_data_ptr(x, &nx);
                const char* py = type == PLIST_STRING ? plist_get_string_ptr(y, &ny) : plist_get_data_ptr(y, &ny);
                return nx == ny && (nx == 0 || std::memcmp(px, py, nx) == 0);
            }
            default:
                return plist_compare_node_value(x, y) != 0;
        }
    }

    const ForeignObjects& a_;
    const ForeignObjects& b_;
    std::unordered_map<std::uint64_t, std::uint64_t> ab_, ba_;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> todo_;
};

}  // namespace

bool operator==(const Opaque& a, const Opaque& b) {
    if (a.objects() == b.objects() && a.index() == b.index()) return true;
    if (a.objects() == nullptr || b.objects() == nullptr) return false;
    return GraphMatch(*a.objects(), *b.objects()).run(a.index(), b.index());
}

}  // namespace vexa::archive
