// 32-bit handles for the driver's objects as clients hold them: an entry
// (one published object) or an iterator over entries. 0 is never a handle.
// An iterator hands out each of its entries once, as a new entry handle,
// and then 0. A notification's iterator is "armed" once it has been drained
// to 0; only an armed iterator asks for its callback when a new entry
// arrives, so a client that never drains hears nothing more.
//
// The table is plain data without locks: every handle of a process is made
// and used on its main thread.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <variant>

namespace vexa::registry {

using Handle = std::uint32_t;

// A published property: an integer of any width, a text (string or object
// path), or a value of a type this layer does not carry.
using PropertyValue = std::variant<std::monostate, std::int64_t, std::string>;

// One driver object as its publisher showed it: the publishing connection's
// unique bus name, the object path and the instance interface's properties.
struct ObjectRecord {
    std::string owner;
    std::string path;
    std::map<std::string, PropertyValue> properties;

    std::optional<std::int64_t> integer(const std::string& key) const;
    std::optional<std::string> text(const std::string& key) const;
};
using RecordPtr = std::shared_ptr<const ObjectRecord>;

class HandleTable {
public:
    Handle addEntry(RecordPtr record);
    // An iterator over `records`; `onRelease` (optional) runs with the
    // iterator's handle when it is released.
    Handle addIterator(std::deque<RecordPtr> records, std::function<void(Handle)> onRelease = {});
    // The next entry of an iterator as a new handle; 0 at the end or for
    // anything that is no iterator. Reaching the end arms the iterator.
    Handle next(Handle iterator);
    // Queues `record` on an iterator. True when the iterator was armed: the
    // caller then owes it one callback, and the iterator stays disarmed
    // until it is drained again.
    bool queue(Handle iterator, RecordPtr record);
    // The record behind an entry handle; null for anything else.
    const ObjectRecord* entry(Handle entry) const;
    bool isIterator(Handle handle) const;
    // Entries an iterator holds, without handing them out (or arming it).
    std::size_t queuedCount(Handle iterator) const;
    // Drops a handle (an iterator with whatever it still holds). False when
    // there is no such handle.
    bool release(Handle handle);
    std::size_t size() const { return objects_.size(); }

private:
    struct Object {
        RecordPtr entry;               // an entry's record
        std::deque<RecordPtr> queued;  // an iterator's entries still to hand out
        bool iterator = false;
        bool armed = false;
        std::function<void(Handle)> onRelease;
    };
    Handle newHandle();

    std::unordered_map<Handle, Object> objects_;
    Handle last_ = 0;
};

// The process's handle table.
HandleTable& handles();

}  // namespace vexa::registry
