// The values a keyed archive holds, as plain C++ values: dictionaries with
// text keys, arrays, texts, data, integers, reals, booleans and dates.
#pragma once

#include <concepts>
#include <cstdint>
#include <initializer_list>
#include <map>
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

class Value;
using Array = std::vector<Value>;

// A dictionary with text keys (NSDictionary / NSMutableDictionary).
class Dictionary {
public:
    using Map = std::map<std::string, Value, std::less<>>;

    Dictionary() = default;
    Dictionary(std::initializer_list<std::pair<const std::string, Value>> entries);

    // The value under `key`, or null.
    const Value* find(std::string_view key) const;
    Value* find(std::string_view key);
    // Sets or replaces the value under `key`.
    void set(std::string key, Value value);
    bool erase(std::string_view key);

    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    Map::const_iterator begin() const { return entries_.begin(); }
    Map::const_iterator end() const { return entries_.end(); }

    friend bool operator==(const Dictionary& a, const Dictionary& b);

private:
    Map entries_;
};

class Value {
public:
    using Storage = std::variant<bool, std::int64_t, double, std::string, Data, Date, Array, Dictionary>;

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

}  // namespace vexa::archive
