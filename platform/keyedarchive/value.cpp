#include "platform/keyedarchive/value.h"

#include <bit>

namespace vexa::archive {

Dictionary::Dictionary() = default;
Dictionary::Dictionary(std::initializer_list<std::pair<const std::string, Value>> entries) : entries_(entries) {}
Dictionary::Dictionary(const Dictionary&) = default;
Dictionary::Dictionary(Dictionary&&) noexcept = default;
Dictionary& Dictionary::operator=(const Dictionary&) = default;
Dictionary& Dictionary::operator=(Dictionary&&) noexcept = default;
Dictionary::~Dictionary() = default;

const Value* Dictionary::find(std::string_view key) const {
    const auto it = entries_.find(key);
    return it == entries_.end() ? nullptr : &it->second;
}

Value* Dictionary::find(std::string_view key) {
    const auto it = entries_.find(key);
    return it == entries_.end() ? nullptr : &it->second;
}

void Dictionary::set(std::string key, Value value) { entries_.insert_or_assign(std::move(key), std::move(value)); }

bool Dictionary::erase(std::string_view key) {
    const auto it = entries_.find(key);
    if (it == entries_.end()) return false;
    entries_.erase(it);
    return true;
}

void Dictionary::addEntry(Value key, Value value) {
    if (auto* text = key.get<std::string>()) {
        set(std::move(*text), std::move(value));
    } else {
        others_.push_back({std::move(key), std::move(value)});
    }
}

std::size_t Dictionary::size() const { return entries_.size() + others_.size(); }

bool operator==(const Dictionary& a, const Dictionary& b) { return a.entries_ == b.entries_ && a.others_ == b.others_; }

namespace {

struct SameValue {
    bool operator()(double x, double y) const { return std::bit_cast<std::uint64_t>(x) == std::bit_cast<std::uint64_t>(y); }
    bool operator()(const Date& x, const Date& y) const { return (*this)(x.sinceReferenceDate, y.sinceReferenceDate); }
    template <class T>
    bool operator()(const T& x, const T& y) const { return x == y; }
    template <class T, class U>
    bool operator()(const T&, const U&) const { return false; }
};

}  // namespace

bool operator==(const Value& a, const Value& b) { return std::visit(SameValue{}, a.storage_, b.storage_); }

}  // namespace vexa::archive
