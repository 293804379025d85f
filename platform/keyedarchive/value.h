// The values a keyed archive holds, as plain C++ values: dictionaries,
// arrays, texts, data, integers, reals, booleans and dates, and opaque
// values for the objects this program does not interpret.
#pragma once

#include <concepts>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace vexa::archive {

using Data = std::vector<std::uint8_t>;

// A date (NSDate): seconds since 2001-01-01 00:00:00 UTC.
struct Date {
    double sinceReferenceDate = 0;
};

// The decoded archive an opaque value belongs to (keyed_archive.cpp).
struct ForeignObjects;

// An object of the archive that this program does not interpret: an object
// of another class (NSNull, NSURL, NSSet, ...) or an integer wider than 64
// bits. It stands for its object in the archive it was read from, with its
// class record and everything it references, and is written back unchanged.
// Objects that several opaque values of one archive share stay shared when
// written. Only the decoder makes them.
class Opaque {
public:
    Opaque(std::shared_ptr<const ForeignObjects> objects, std::uint64_t index)
        : objects_(std::move(objects)), index_(index) {}

    const ForeignObjects* objects() const { return objects_.get(); }
    std::uint64_t index() const { return index_; }

    // The same object graph: same classes, fields, integer widths and sign,
    // texts, data and sharing, wherever the two were read from.
    friend bool operator==(const Opaque& a, const Opaque& b);

private:
    std::shared_ptr<const ForeignObjects> objects_;
    std::uint64_t index_;
};

class Value;
using Array = std::vector<Value>;

// A dictionary (NSDictionary / NSMutableDictionary). Entries are found by
// text key; entries whose key is something else (a number, say) are kept
// aside in their order so that they are written back.
class Dictionary {
public:
    using Map = std::map<std::string, Value, std::less<>>;
    struct OtherEntry;

    Dictionary();
    Dictionary(std::initializer_list<std::pair<const std::string, Value>> entries);
    // Defined where OtherEntry is complete.
    Dictionary(const Dictionary&);
    Dictionary(Dictionary&&) noexcept;
    Dictionary& operator=(const Dictionary&);
    Dictionary& operator=(Dictionary&&) noexcept;
    ~Dictionary();

    // The value under `key`, or null.
    const Value* find(std::string_view key) const;
    Value* find(std::string_view key);
    // Sets or replaces the value under `key`.
    void set(std::string key, Value value);
    bool erase(std::string_view key);

    // Adds an entry under a key that may be of any kind; a text key is set.
    void addEntry(Value key, Value value);
    // The entries whose key is not a text, in the order they were added.
    const std::vector<OtherEntry>& otherEntries() const { return others_; }

    // All entries, text keys or not.
    std::size_t size() const;
    bool empty() const { return size() == 0; }
    // The entries under text keys, in key order.
    Map::const_iterator begin() const { return entries_.begin(); }
    Map::const_iterator end() const { return entries_.end(); }

    friend bool operator==(const Dictionary& a, const Dictionary& b);

private:
    Map entries_;
    std::vector<OtherEntry> others_;
};

class Value {
public:
    using Storage = std::variant<bool, std::int64_t, double, std::string, Data, Date, Array, Dictionary, Opaque>;

    // Only a real bool is a boolean: a stray pointer must not become one.
    template <class B>
        requires std::same_as<B, bool>
    Value(B b) : storage_(b) {}
    Value(int i) : storage_(std::int64_t{i}) {}
    Value(std::int64_t i) : storage_(i) {}
    Value(double d) : storage_(d) {}
    Value(const char* s) : storage_(std::string(s)) {}
    Value(std::string s) : storage_(std::move(s)) {}
    Value(Data d) : storage_(std::move(d)) {}
    Value(Date d) : storage_(d) {}
    Value(Array a) : storage_(std::move(a)) {}
    Value(Dictionary d) : storage_(std::move(d)) {}
    Value(Opaque o) : storage_(std::move(o)) {}

    template <class T>
    const T* get() const { return std::get_if<T>(&storage_); }
    template <class T>
    T* get() { return std::get_if<T>(&storage_); }

    const Storage& storage() const { return storage_; }

    // Equal kind and content; reals and dates compare by their bits, so a
    // value always equals itself (NaN included).
    friend bool operator==(const Value& a, const Value& b);

private:
    Storage storage_;
};

struct Dictionary::OtherEntry {
    Value key;
    Value value;
    friend bool operator==(const OtherEntry&, const OtherEntry&) = default;
};

}  // namespace vexa::archive
