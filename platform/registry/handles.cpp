#include "platform/registry/handles.h"

#include <utility>

namespace vexa::registry {

std::optional<std::int64_t> ObjectRecord::integer(const std::string& key) const {
    const auto it = properties.find(key);
    if (it == properties.end()) return std::nullopt;
    if (const auto* n = std::get_if<std::int64_t>(&it->second)) return *n;
    return std::nullopt;
}

std::optional<std::string> ObjectRecord::text(const std::string& key) const {
    const auto it = properties.find(key);
    if (it == properties.end()) return std::nullopt;
    if (const auto* s = std::get_if<std::string>(&it->second)) return *s;
    return std::nullopt;
}

Handle HandleTable::newHandle() {
    // Numbers go up and wrap around, skipping 0 and any handle still held,
    // so a stale handle does not name a new object soon after its release.
    do {
        ++last_;
    } while (last_ == 0 || objects_.count(last_) != 0);
    return last_;
}

Handle HandleTable::addEntry(RecordPtr record) {
    const Handle h = newHandle();
    objects_[h].entry = std::move(record);
    return h;
}

Handle HandleTable::addIterator(std::deque<RecordPtr> records, std::function<void(Handle)> onRelease) {
    const Handle h = newHandle();
    Object& o = objects_[h];
    o.iterator = true;
    o.queued = std::move(records);
    o.onRelease = std::move(onRelease);
    return h;
}

Handle HandleTable::next(Handle iterator) {
    const auto it = objects_.find(iterator);
    if (it == objects_.end() || !it->second.iterator) return 0;
    Object& o = it->second;
    if (o.queued.empty()) {
        o.armed = true;
        return 0;
    }
    RecordPtr record = std::move(o.queued.front());
    o.queued.pop_front();
    return addEntry(std::move(record));  // `o` may move: not used after this
}

bool HandleTable::queue(Handle iterator, RecordPtr record) {
    const auto it = objects_.find(iterator);
    if (it == objects_.end() || !it->second.iterator) return false;
    Object& o = it->second;
    o.queued.push_back(std::move(record));
    return std::exchange(o.armed, false);
}

std::size_t HandleTable::queuedCount(Handle iterator) const {
    const auto it = objects_.find(iterator);
    return it == objects_.end() ? 0 : it->second.queued.size();
}

const ObjectRecord* HandleTable::entry(Handle entry) const {
    const auto it = objects_.find(entry);
    return it == objects_.end() ? nullptr : it->second.entry.get();
}

bool HandleTable::isIterator(Handle handle) const {
    const auto it = objects_.find(handle);
    return it != objects_.end() && it->second.iterator;
}

bool HandleTable::release(Handle handle) {
    const auto it = objects_.find(handle);
    if (it == objects_.end()) return false;
    std::function<void(Handle)> onRelease = std::move(it->second.onRelease);
    objects_.erase(it);
    if (onRelease) onRelease(handle);
    return true;
}

HandleTable& handles() {
    static HandleTable table;
    return table;
}

}  // namespace vexa::registry
